#!/usr/bin/env bash
# Builds the benchmarks (default preset), runs each once and prints one table of every ratio
# with its target and whether the median is within it. Exits 0 unless a build or a benchmark
# fails, or a comparison with a target was not measured; a ratio outside its target is reported,
# not a failure. The full reports stay in build/bench/reports/.
set -uo pipefail
cd "$(dirname "$0")/.."

benches=(pak_bench trelink_bench update_bench logs_bench description_build_bench process_bench)
[ -f build/build.ninja ] || cmake --preset default >/dev/null || exit 1
cmake --build build -j 2 --target "${benches[@]}" || exit 1

reports=build/bench/reports
mkdir -p "$reports"
status=0
for b in "${benches[@]}"; do
  echo "running $b ..." >&2
  if ! "build/bench/$b" >"$reports/$b.txt" 2>&1; then
    echo "$b failed to run; see $reports/$b.txt" >&2
    status=1
  fi
done

# row LABEL BENCH LINE-PREFIX OP LIMIT
# The line is "<prefix>: ... = <median> median of <n> pairs (min <a>, max <b>, quartiles <q1>-<q3>)"
# or, for a time, "<prefix>: <median> ms median of <n> runs (min <a>, max <b>)". OP is <= or <,
# or "-" for a comparison without a target.
row() {
  local label=$1 bench=$2 prefix=$3 op=$4 limit=$5 line
  line=$(grep -m1 "^$prefix: " "$reports/$bench.txt" 2>/dev/null)
  awk -v label="$label" -v op="$op" -v limit="$limit" -v line="$line" -v prefix="$prefix" 'BEGIN {
    target = op == "-" ? "none" : op " " limit
    rest = substr(line, length(prefix) + 3)
    if (line == "" || rest ~ /^not measured/) {
      printf "%-48s %-9s %-30s %-9s %s\n", label, "-", "-", target, "NOT MEASURED"
      exit(op == "-" ? 0 : 1)
    }
    unit = ""
    if (rest ~ / = /) sub(/.* = /, "", rest); else unit = " ms"
    split(rest, w, /[ ,()]+/)
    median = w[1] + 0
    for (i = 1; i in w; ++i) {
      if (w[i] == "min") lo = w[i + 1]
      if (w[i] == "max") hi = w[i + 1]
      if (w[i] == "quartiles") q = w[i + 1]
    }
    spread = lo "-" hi (q != "" ? " (q " q ")" : "")
    verdict = op == "-" ? "" : ((op == "<=" && median <= limit) || (op == "<" && median < limit)) ? "within" : "OUTSIDE"
    printf "%-48s %-9s %-30s %-9s %s\n", label, sprintf("%.3f%s", median, unit), spread, op == "-" ? target : target unit, verdict
  }' || status=1
}

echo
printf "%-48s %-9s %-30s %-9s %s\n" "comparison" "median" "min-max (quartiles)" "target" "verdict"
row "group open 64 KiB images / plain read" pak_bench "group open 64 KiB images" "<=" 1.5
row "group open 1 MiB images / plain read" pak_bench "group open 1 MiB images" "<=" 1.5
row "group open 16 MiB images / plain read" pak_bench "group open 16 MiB images" "<=" 1.5
row "group open realistic group / plain read" pak_bench "group open realistic" "<=" 1.5
row "CRC one stream / three streams" pak_bench "CRC three-stream speed-up" "-" 0
row "KesSendCommand USB / bare exchange" trelink_bench "USB link" "<=" 1.10
row "USB exchange with answer deadline / none" trelink_bench "answer deadline" "<=" 1.02
row "KesSendCommand simulator / direct" trelink_bench "simulator link" "-" 0
row "full update in process / bare round trips" update_bench "update" "<=" 1.15
row "update captured / uncaptured" update_bench "capture" "<=" 1.05
row "log download in process / bare round trips" logs_bench "download" "<=" 1.15
row "description tree build, warm" description_build_bench "description tree build" "-" 0
row "description tree build, cold process" description_build_bench "description tree cold build" "<" 2
row "description tree / flat map" description_build_bench "description tree" "-" 0
for size in "realistic group" "16 MB" "64 MB"; do
  row "update --once $size / replay, 1 core" process_bench "update $size (one core)" "<=" 1.10
  row "update --once $size / replay, 2 cores" process_bench "update $size (two cores)" "-" 0
done
row "update --once fixed cost - replay's" process_bench "update realistic group fixed cost" "<=" 5
for size in 1 16 64; do
  row "logs get $size MB / replay, 1 core" process_bench "logs get $size MB (one core)" "<=" 1.10
  row "logs get $size MB / replay, 2 cores" process_bench "logs get $size MB (two cores)" "-" 0
done
row "program / replay, 1 core" process_bench "program (one core)" "<=" 1.10
row "program / replay, 2 cores" process_bench "program (two cores)" "-" 0
row "flashdesk --version / C++ hello" process_bench "flashdesk --version" "<=" 1.2
row "pak info demo group / cat of it" process_bench "pak info of the demo group" "<=" 1.3
row "describe / cat of its output" process_bench "describe" "<=" 1.5
row "describe structs X / cat of its output" process_bench "describe of a structure" "<=" 1.5
grep -m1 "^CRC throughput: " "$reports/pak_bench.txt" 2>/dev/null
echo "The virtual machine's whole update against raw libusb: scripts/vm-test.sh."
exit $status

#!/usr/bin/env bash
# Fuzzing from the seed corpora:
#   scripts/fuzz.sh [SECONDS] [TARGET...] [--jobs N] [--coverage] [--seed]
#
# Builds the libFuzzer targets of the asan preset and runs each named target (default: all)
# for SECONDS (default 60; 0: no run), N targets at a time (default 1), with its dictionary
# tests/corpus/TARGET.dict and its corpus tests/corpus/TARGET. New inputs are merged into the
# corpus (-merge=1 keeps only those that add coverage); a crash, leak or time-out is kept under
# build-asan/fuzz-findings/TARGET/. One line per target: executions, corpus size, findings.
#   --coverage  builds an instrumented copy (build-fuzz-cov, clang source-based coverage, no
#               sanitizers) and prints per target the line coverage of the product's code
#               (tests/ and system headers left out) over the corpus
#   --seed      writes the generated seeds (tests/support/fuzz_seeds.cpp) and the packages,
#               groups and certificates of `ecusim make-packages` into tests/corpus, then stops
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

all_targets=(fuzz_pak_file fuzz_pak_group fuzz_layout fuzz_raw_log_disk fuzz_certificate_reader
             fuzz_core_dump_file fuzz_ecusim_wire fuzz_usbcan_link fuzz_serial_ring fuzz_serial_link
             fuzz_response_view fuzz_usb_link fuzz_ecu_record fuzz_trace_show)
seconds=60
coverage=0
seed=0
lanes=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --coverage) coverage=1 ;;
    --seed) seed=1 ;;
    --jobs)
      lanes=${2:-}
      [[ "$lanes" =~ ^[1-9][0-9]*$ ]] || { echo "fuzz: --jobs needs a count" >&2; exit 2; }
      shift ;;
    ''|*[!0-9]*) targets+=("$1") ;;
    *) seconds=$1 ;;
  esac
  shift
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  [[ " ${all_targets[*]} " == *" $t "* ]] || { echo "fuzz: no such target: $t" >&2; exit 2; }
done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
jobs=${FUZZ_BUILD_JOBS:-2}
[ -f build-asan/CMakeCache.txt ] || cmake --preset asan "${launcher[@]}" >/dev/null

binary() { find build-asan/tests -name "$1" -type f -perm -u+x | head -n1; }

if [ $seed -eq 1 ]; then
  cmake --build build-asan -j "$jobs" --target fuzz_seeds ecusim >/dev/null
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  build-asan/tests/support/fuzz_seeds tests/corpus
  build-asan/ecusim/ecusim make-packages --serial 1A2B3C4D --out "$work" >/dev/null
  mkdir -p tests/corpus/fuzz_pak_file tests/corpus/fuzz_pak_group tests/corpus/fuzz_certificate_reader
  cp "$work"/*.pak tests/corpus/fuzz_pak_file/
  cp "$work"/*.pakgrp tests/corpus/fuzz_pak_group/
  cp "$work"/*.der ecusim/certs/*.der tests/corpus/fuzz_certificate_reader/
  for t in "${all_targets[@]}"; do
    echo "seed: $t $(find "tests/corpus/$t" -type f | wc -l) files, $(du -sk "tests/corpus/$t" | cut -f1) KB"
  done
  exit 0
fi

cmake --build build-asan -j "$jobs" --target "${targets[@]}" >/dev/null
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
runs=$(mktemp -d)
trap 'rm -rf "$runs"' EXIT
# One target's run and merge; prints its line when done.
fuzz_one() {
  local t=$1 bin corpus findings args before execs found
  bin=$(binary "$t")
  corpus=tests/corpus/$t
  findings=build-asan/fuzz-findings/$t
  mkdir -p "$corpus" "$findings" "$runs/$t"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "tests/corpus/$t.dict" ] && args+=(-dict="tests/corpus/$t.dict")
  before=$(find "$corpus" -type f | wc -l)
  # A finding stops the run: its exit status is not the script's.
  "$bin" "${args[@]}" "$runs/$t" "$corpus" >"$runs/$t.log" 2>&1 || true
  "$bin" -merge=1 "$corpus" "$runs/$t" >"$runs/$t.merge.log" 2>&1 || true
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$runs/$t.log" | tail -n1)
  # Crashes, leaks, time-outs and memory blow-ups are findings; an input that merely took over
  # 10 s (libFuzzer keeps it as slow-unit-*) is counted apart: on a busy machine that is the load.
  found=$(find "$findings" -type f ! -name 'slow-unit-*' | wc -l)
  slow=$(find "$findings" -type f -name 'slow-unit-*' | wc -l)
  echo "$t: ${seconds} s, ${execs:-?} executions, corpus $before -> $(find "$corpus" -type f | wc -l) inputs," \
       "$found findings$([ "$slow" -eq 0 ] || echo ", $slow slow inputs")"
  if grep -q "==ERROR\|deadly signal\|Timeout" "$runs/$t.log"; then
    grep -m3 "ERROR\|SUMMARY\|deadly signal\|Timeout" "$runs/$t.log" | sed "s/^/  $t: /"
  fi
}

if [ "$seconds" -gt 0 ]; then  # 0: no run, coverage of the corpus as it is
  running=0
  for t in "${targets[@]}"; do
    if [ $running -ge "$lanes" ]; then
      wait -n || true
      running=$((running - 1))
    fi
    fuzz_one "$t" &
    running=$((running + 1))
  done
  wait || true
fi

[ $coverage -eq 1 ] || exit 0
# The instrumented copy: the same targets without sanitizers, with coverage mapping.
flags="-fprofile-instr-generate -fcoverage-mapping"
if [ ! -f build-fuzz-cov/CMakeCache.txt ]; then
  cmake -S . -B build-fuzz-cov -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DFLASHDESK_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
fi
cmake --build build-fuzz-cov -j "$jobs" --target "${targets[@]}" >/dev/null
for t in "${targets[@]}"; do
  bin=$(find build-fuzz-cov/tests -name "$t" -type f -perm -u+x | head -n1)
  LLVM_PROFILE_FILE="$runs/$t.profraw" "$bin" -runs=0 "tests/corpus/$t" >/dev/null 2>&1 || true
  llvm-profdata merge -sparse "$runs/$t.profraw" -o "$runs/$t.profdata"
  total=$(llvm-cov report "$bin" -instr-profile="$runs/$t.profdata" \
            -ignore-filename-regex='(^/usr/|/tests/)' | grep '^TOTAL')
  # TOTAL regions missed cover functions missed cover lines missed cover (branches ...)
  read -r _ _ _ _ _ _ _ lines missed cover _ <<<"$total"
  echo "$t: line coverage $cover ($((lines - missed)) of $lines lines of the code it reaches)"
done

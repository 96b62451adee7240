#!/usr/bin/env bash
# Usage: generated_docs_test.sh DIR (holding flashdesk.1 and flashdesk.bash-completion)
set -uo pipefail  # not -e: a completion that finds nothing returns non-zero
dir=$1
fail=0

# The man page: a header, the summary and the option lines of the description.
for pattern in '^\.TH FLASHDESK 1 ' '^flashdesk \\- ECU service' '^\.B flashdesk \[OPTIONS\] SUBCOMMAND' \
               '^  --device TEXT' '^  pak  '; do
  grep -q -- "$pattern" "$dir/flashdesk.1" || { echo "flashdesk.1 lacks /$pattern/"; fail=1; }
done

# The completion: words typed so far (the last one being completed) -> expected candidates.
source "$dir/flashdesk.bash-completion"
while IFS='|' read -r typed expected; do
  read -r -a COMP_WORDS <<<"flashdesk $typed"
  [[ $typed == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  _flashdesk
  if [ "${COMPREPLY[*]}" != "$expected" ]; then
    echo "completing 'flashdesk $typed': '${COMPREPLY[*]}', expected '$expected'"
    fail=1
  fi
done <<'CASES'
pa|pak
pak i|info
--link usb pak i|info
pak info --j|--json
logs |list get format diagnose -h --help
--dev|--device
CASES
exit $fail

# Setup of the location report's golden cases: makes the data files that the
# case's file "fixture" lists, one per line, in the working directory:
#   NAME option...        a data file written by report-fixture with the options
#   sparse NAME BYTES     a file of that size holding no data (an extension part)
# Lines starting with # and empty lines are skipped. Without a fixture file
# the case has no data file at all.
set -euo pipefail
[ -f "$CASE_DIR/fixture" ] || exit 0
tool="$(command -v report-fixture || command -v report-fixture.exe)"
while read -r first rest || [ -n "$first" ]; do
  case "$first" in
    "" | "#"*) continue ;;
    sparse)
      read -r name size <<<"$rest"
      truncate -s "$size" "$name"
      ;;
    *)
      # shellcheck disable=SC2086  # the emulator and the options are words
      ${GOLDEN_EMULATOR:-} "$tool" "$first" $rest
      ;;
  esac
done <"$CASE_DIR/fixture"

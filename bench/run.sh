#!/usr/bin/env bash
# Benchmark of the replacement engine (not a test; nothing here is run by
# ctest). Builds a 9.50 file of at least 1 GiB (4096-byte pages, 100-byte
# slots) with mkbtrieve in a temporary folder, then prints, warm cache:
#   - the time of cat FILE > /dev/null;
#   - records per second and peak memory of a physical walk through the
#     engine's record-call entry alone (bench/engine_walk);
#   - the same through the whole halvorn tool, standard error to a file;
#   - a walk along key 0 over 1 M records beside the physical walk of the
#     same file, with the peak memory of each.
# Every figure is the best of three runs. The folder is removed at the end.
#
#   bench/run.sh [build-dir]      (default: build/default)
# Environment: RECORDS (default 10600000), KEY_RECORDS (default 1000000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
records=${RECORDS:-10600000}
keyRecords=${KEY_RECORDS:-1000000}

cmake --build "$build" -j2 --target engine_walk halvorn mkbtrieve >/dev/null
walk=$build/bench/engine_walk
tool=$build/Halvorn/halvorn
mk=$build/tools/btbuild/mkbtrieve

tmp=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# Wall seconds and peak resident KiB of one command: GNU time when present,
# else bash's own clock (peak memory then from the driver's own line).
if [ -x /usr/bin/time ] && /usr/bin/time -f "%e" true >/dev/null 2>&1; then
  have_time=1
else
  have_time=0
fi
run_once() {  # command... -> "seconds kib"
  if [ $have_time = 1 ]; then
    /usr/bin/time -o "$tmp/time.txt" -f "%e %M" "$@" >"$tmp/out.txt" 2>"$tmp/err.txt" || true
    tail -n 1 "$tmp/time.txt"
  else
    local start end
    start=$(date +%s.%N)
    "$@" >"$tmp/out.txt" 2>"$tmp/err.txt" || true
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) 0"
  fi
}
best_of_three() {  # command... -> "seconds kib" of the fastest run
  local best="" line
  for _ in 1 2 3; do
    line=$(run_once "$@")
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a<b)}'; then
      best=$line
    fi
  done
  echo "$best"
}
rate() { awk -v n="$1" -v s="$2" 'BEGIN{ if (s > 0) printf "%.0f", n / s; else print "-" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "-" }'; }
driver_peak() { sed -n 's/.*peak \([0-9]*\) KiB.*/\1/p' "$tmp/out.txt"; }

echo "Building the file (mkbtrieve) ..."
"$mk" --quiet --version 9.50 --page-size 4096 --record-length 98 --records "$records" "$tmp/BIG.DAT"
size=$(stat -c %s "$tmp/BIG.DAT")
cat "$tmp/BIG.DAT" >/dev/null
printf "File: %s bytes (%.2f GiB), %s records, version 9.50, 4096-byte pages, 100-byte slots\n\n" \
  "$size" "$(awk -v s="$size" 'BEGIN{print s / 1073741824}')" "$records"

read -r catSeconds catPeak < <(best_of_three cat "$tmp/BIG.DAT")
printf "%-34s %8.2f s  peak %7s KiB\n" "cat FILE > /dev/null" "$catSeconds" "$catPeak"

read -r engineSeconds enginePeak < <(best_of_three "$walk" "$tmp/BIG.DAT")
engineRecords=$(sed -n 's/^records \([0-9]*\).*/\1/p' "$tmp/out.txt")
[ "$enginePeak" = 0 ] && enginePeak=$(driver_peak)
printf "%-34s %8.2f s  peak %7s KiB  %10s records/s  %s x cat\n" "engine entry, physical walk" \
  "$engineSeconds" "$enginePeak" "$(rate "$engineRecords" "$engineSeconds")" \
  "$(ratio "$engineSeconds" "$catSeconds")"

mkdir -p "$tmp/run"
cd "$tmp/run"
read -r toolSeconds toolPeak < <(best_of_three "$tool" "$tmp/BIG.DAT")
toolRecords=$(sed -n 's/^Records Scanned *: \([0-9]*\).*/\1/p' "$tmp/out.txt")
printf "%-34s %8.2f s  peak %7s KiB  %10s records/s  %s x cat\n" "halvorn, physical walk" \
  "$toolSeconds" "$toolPeak" "$(rate "$toolRecords" "$toolSeconds")" \
  "$(ratio "$toolSeconds" "$catSeconds")"
cd "$root"
rm -f "$tmp/BIG.DAT"

echo
echo "Key walk: $keyRecords records (same layout) ..."
"$mk" --quiet --version 9.50 --page-size 4096 --record-length 98 --records "$keyRecords" "$tmp/KEY.DAT"
cat "$tmp/KEY.DAT" >/dev/null
read -r physSeconds physPeak < <(best_of_three "$walk" "$tmp/KEY.DAT")
[ "$physPeak" = 0 ] && physPeak=$(driver_peak)
printf "%-34s %8.2f s  peak %7s KiB\n" "engine entry, physical walk" "$physSeconds" "$physPeak"
read -r keySeconds keyPeak < <(best_of_three "$walk" "$tmp/KEY.DAT" --key 0)
[ "$keyPeak" = 0 ] && keyPeak=$(driver_peak)
keyCount=$(sed -n 's/^records \([0-9]*\).*/\1/p' "$tmp/out.txt")
printf "%-34s %8.2f s  peak %7s KiB  %10s records/s  %s x physical\n" "engine entry, walk along key 0" \
  "$keySeconds" "$keyPeak" "$(rate "$keyCount" "$keySeconds")" "$(ratio "$keySeconds" "$physSeconds")"

#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each of them.
#
#   fuzz/run.sh [-j N] [SECONDS] [TARGET...]
#                                  run every target (or those named: library,
#                                  records, engine, command-line) for SECONDS (default 60),
#                                  N at a time (default 1), and keep the
#                                  corpus they grow under build/fuzz/corpus
#   fuzz/run.sh --ci [RUNS]        regression check: every target over its
#                                  seeds and kept regressions, then up to RUNS
#                                  executions in all (default 3000)
#   fuzz/run.sh --seeds            only build and make the seed corpora
#
# The targets are built with clang in build/fuzz (HALVORN_FUZZ_BUILD to
# change it). Seeds are made at every run: files of every format version from
# the project's builders (mkbtrieve and report-fixture, when they are built),
# the real samples (HALVORN_SAMPLES_DIR, default ../shared/samples; copied
# into the build folder only), and a few command lines. Inputs that fail are
# written to build/fuzz/artifacts/<target>/; a failure makes the script fail.
# After every target one line gives its executions and the coverage (cov:)
# of libFuzzer's final status line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${HALVORN_FUZZ_BUILD:-$root/build/fuzz}"
samples="${HALVORN_SAMPLES_DIR:-$root/../shared/samples}"
targets=(library records engine command-line)

mode=time
seconds=60
runs=3000
jobs=1
chosen=()
while [ $# -gt 0 ]; do
  case "$1" in
    --ci) mode=ci; if [ $# -gt 1 ] && [[ "$2" =~ ^[0-9]+$ ]]; then runs=$2; shift; fi ;;
    --seeds) mode=seeds ;;
    -j) jobs=$2; shift ;;
    [0-9]*) seconds=$1 ;;
    library | records | engine | command-line) chosen+=("$1") ;;
    *) echo "usage: fuzz/run.sh [-j N] [SECONDS] [TARGET...] | --ci [RUNS] | --seeds" >&2; exit 2 ;;
  esac
  shift
done
[ ${#chosen[@]} -gt 0 ] && targets=("${chosen[@]}")

# ---------------------------------------------------------------- build
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DHALVORN_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
known_targets="$(cmake --build "$build" --target help 2>/dev/null || true)"
wanted=()
for t in "${targets[@]}"; do wanted+=("fuzz-$t"); done
for tool in mkbtrieve report-fixture; do
  if grep -q "\\b$tool\\b" <<<"$known_targets"; then wanted+=("$tool"); fi
done
for t in "${wanted[@]}"; do
  nice cmake --build "$build" --target "$t" -j 2 >/dev/null
done
binary() { find "$build" -type f -perm -u+x -name "$1" | head -n 1; }

# ---------------------------------------------------------------- seeds
seeds="$build/seeds"
rm -rf "$seeds"
for t in library records engine command-line; do mkdir -p "$seeds/$t"; done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# header FLAGS C0 C1 C2 VALUE BASESIZE MIDDLESIZE (see FuzzFileSet.h), in one
# printf without subshells.
header() {
  local format="" octal v shift
  for v in "$1" "$2" "$3" "$4"; do printf -v octal '\\%03o' $((v & 255)); format+=$octal; done
  for v in "$5" "$6" "$7"; do
    for shift in 0 8 16 24; do printf -v octal '\\%03o' $(((v >> shift) & 255)); format+=$octal; done
  done
  # shellcheck disable=SC2059
  printf "$format"
}
# Index of a version in the record target's table (FuzzRecords.cpp).
version_index() {
  case "$1" in
    0x0300) echo 0 ;; 0x0400) echo 1 ;; 0x0500) echo 2 ;; 0x0600) echo 3 ;; 0x0610) echo 4 ;;
    0x0700) echo 6 ;; 0x0800) echo 7 ;; 0x0900) echo 8 ;; 0x0950) echo 10 ;; 0x0D00) echo 11 ;;
    0x0D30) echo 12 ;; *) echo 0 ;;
  esac
}
# add_file NAME FILE VERSION PAGESIZE POSITION [plain]: seeds of the three file
# targets from one data file (whole, and unless plain also verbose and split
# into a base and one part).
add_file() {
  local name=$1 file=$2 version=$3 page=$4 position=$5 plain=${6:-}
  local size; size=$(stat -c %s "$file")
  local vi; vi=$(version_index "$version")
  local pb=$((page / 256 & 255))
  local half=$(((size / 2) / page * page))
  for t in library engine; do
    { header 0 0 0 0 "$position" 0 0; cat "$file"; } >"$seeds/$t/$name"
    [ -n "$plain" ] && continue
    { header 8 0 255 0 "$position" 0 0; cat "$file"; } >"$seeds/$t/$name-verbose"
    { header 1 0 255 0 "$position" "$half" 0; cat "$file"; } >"$seeds/$t/$name-parts"
  done
  # Records: the first data page as the page to look into, the file as the set.
  { header 0 "$vi" "$pb" 1 $((0x00400000 | 1)) 0 0; cat "$file"; } >"$seeds/records/$name"
  [ -n "$plain" ] && return 0
  { header 32 "$vi" "$pb" 1 $((0x00400000 | 2)) 0 0; tail -c +$((page * 2 + 1)) "$file"; } \
    >"$seeds/records/$name-page"
}

# The real samples: in the build folder only.
if [ -d "$samples" ]; then
  for f in "$samples"/*; do
    case "$f" in *.md) continue ;; esac
    b=$(basename "$f")
    cp "$f" "$work/$b"
    # Version and page size, for the record target's choice bytes.
    case "$b" in
      TEST.DAT) vp="0x0300 1024" ;; MBBSEMU.DAT) vp="0x0400 512" ;; F14.DAT) vp="0x0400 4096" ;;
      MBMGEPLT.DAT | BBSGEN.VIR) vp="0x0400 1024" ;; MULTIACS.DAT) vp="0x0610 4096" ;;
      *) vp="0x0600 4096" ;;
    esac
    # shellcheck disable=SC2086
    add_file "sample-$b" "$work/$b" $vp $((0x00000010))
  done
else
  echo "fuzz/run.sh: no samples at $samples; seeding from the builders alone" >&2
fi

# Files of every version from report-fixture: a mapped PAT and a record.
fixture="$(binary report-fixture || true)"
if [ -n "$fixture" ]; then
  for v in 0x0300 0x0400 0x0500 0x0600 0x0610 0x0700 0x0800 0x0900 0x0950 0x0D00 0x0D30; do
    for page in 1024 4096; do
      f="$work/fixture-$v-$page.mkd"
      "$fixture" "$f" version=$v page=$page reclen=100 bits=10 map=1:4,2:5,3:6 >/dev/null 2>&1 || continue
      add_file "fixture-$v-$page" "$f" $v $page $(((2 << 10) | 1))
    done
  done
  f="$work/fixture-compressed.mkd"
  if "$fixture" "$f" version=0x0950 page=4096 compressed=1024 map=1:8 >/dev/null 2>&1; then
    add_file fixture-compressed "$f" 0x0950 4096 $(((1 << 10) | 1))
  fi
fi

# Data files of every version from mkbtrieve, with records and keys, and
# with the kinds of damage it injects (chains that loop among them).
mkbtrieve="$(binary mkbtrieve || true)"
mk() { # mk NAME VERSION PAGESIZE all|plain OPTION...
  local name=$1 v=$2 page=$3 variants=$4; shift 4
  local f="$work/$name.dat"
  "$mkbtrieve" --quiet --version "$v" --page-size "$page" "$@" "$f" >/dev/null 2>&1 || return 0
  local hex=0x0D30
  [ "$v" != v16 ] && hex=$(printf "0x%02X%02X" "${v%%.*}" "0x${v##*.}")
  if [ -f "$work/$name.^01" ]; then
    # A set of parts: the parts end to end, split again by the header into
    # at most four files (the last takes what is left).
    local parts=("$f") n
    for n in 01 02 03 04 05 06 07 08 09; do [ -f "$work/$name.^$n" ] && parts+=("$work/$name.^$n"); done
    local count=$((${#parts[@]} > 4 ? 4 : ${#parts[@]}))
    local size; size=$(stat -c %s "$f")
    for t in library engine; do
      { header $((count - 1)) 0 0 0 1 "$size" "$size"; cat "${parts[@]}"; } >"$seeds/$t/$name"
    done
    return 0
  fi
  add_file "$name" "$f" "$hex" "$page" 1 "${variants#all}"
}
if [ -n "$mkbtrieve" ]; then
  for v in 3.00 4.00 5.00 6.00 6.10 7.00 8.00 9.00 9.50 13.00 v16; do
    for page in 1024 4096; do
      mk "mk-$v-$page" "$v" "$page" all --records 30 --record-length 40 --shuffle-keys \
        --key 0:4:integer --key 4:8:string:dup --duplicates 2
    done
    mk "mk-$v-free" "$v" 1024 plain --records 30 --free-every 3
    mk "mk-$v-parts" "$v" 1024 plain --records 300 --part-size 8K
    for d in zero-page=data-page:1 cut-in-page=data-page:1 header-number=data-page:0 \
             header-type=data-page:0 pat-past-end=data-page:1 free-chain-loop free-chain-out; do
      mk "mk-$v-${d%%=*}" "$v" 1024 plain --records 30 --free-every 4 --damage "$d"
    done
  done
  for v in 3.00 5.00 6.00 6.10; do
    mk "mk-$v-variable" "$v" 1024 plain --records 20 --variable 300 --fragment-size 100
    mk "mk-$v-variable-loop" "$v" 1024 plain --records 20 --variable 300 --damage variable-loop=record:3
    mk "mk-$v-variable-broken" "$v" 1024 plain --records 20 --variable 300 --damage variable-broken=record:3
  done
else
  echo "fuzz/run.sh: mkbtrieve is not built; seeding without its files" >&2
fi

# Command lines: byte 0 steers the engine, then the arguments at zeros.
cl="$seeds/command-line"
printf '\x00DATA.MKD' >"$cl/plain"
printf '\x08DATA.MKD\x00/K0\x00/B' >"$cl/key-backward"
printf '\x10DATA.MKD\x00/A1\x00/L10' >"$cl/key-only"
printf '\x18DATA.MKD\x00-a2\x00-l300' >"$cl/key-only-too-long"
printf '\x00DATA.MKD\x00/O=owner\x00/D' >"$cl/owner-verbose"
printf '\x00DATA.MKD\x00/O' >"$cl/owner-bad"
printf '\x01DATA.MKD\x00/K2' >"$cl/not-found"
printf '\x04DATA.MKD' >"$cl/not-loaded"
printf '\x00?' >"$cl/help"
printf '\x00/?' >"$cl/help-switch"
printf '\x00A\x00B\x00C\x00D\x00E\x00F\x00G\x00H' >"$cl/too-many"
printf '\x20LASTREC.DMP\x00/A-1' >"$cl/dump-as-data"
printf '\x00%0300d' 0 >"$cl/long-name"
[ "$mode" = seeds ] && { echo "seeds in $seeds"; exit 0; }

# ---------------------------------------------------------------- runs
logs="$build/logs"
mkdir -p "$logs"
run_target() {
  local t=$1 bin; bin="$(binary "fuzz-$t")"
  local corpus="$build/corpus/$t" artifacts="$build/artifacts/$t"
  local regressions="$root/fuzz/regressions/$t"
  mkdir -p "$corpus" "$artifacts"
  local dirs=("$seeds/$t")
  [ -d "$regressions" ] && dirs+=("$regressions")
  local options=(-close_fd_mask=3 -max_len=262144 -rss_limit_mb=2048 -print_final_stats=1
                 "-artifact_prefix=$artifacts/")
  [ "$t" != command-line ] && options+=("-dict=$root/fuzz/files.dict")
  if [ "$mode" = ci ]; then
    # A corpus of its own for each check, so that CI runs the same inputs.
    rm -rf "$corpus-ci"; mkdir -p "$corpus-ci"
    options+=(-runs="$runs" -timeout=60 -seed=1)
    corpus="$corpus-ci"
  else
    options+=(-max_total_time="$seconds" -timeout=10)
  fi
  local status=0
  (cd "$work" && nice "$bin" "${options[@]}" "$corpus" "${dirs[@]}" </dev/null >"$logs/$t.log" 2>&1) ||
    status=$?
  local execs cov
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$logs/$t.log" | tail -n 1 | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$logs/$t.log" | tail -n 1 | grep -o '[0-9]*$' || true)
  if [ "$status" -ne 0 ]; then
    printf '%-14s FAILED (exit %d), executions %s, cov %s; log %s\n' "$t" "$status" "${execs:-?}" \
      "${cov:-?}" "$logs/$t.log"
    grep -E 'ERROR|SUMMARY|Test unit written|abort|timeout' "$logs/$t.log" | head -n 8 | sed 's/^/    /'
    return 1
  fi
  printf '%-14s executions %s, cov %s\n' "$t" "${execs:-?}" "${cov:-?}"
}

failed=0
if [ "$jobs" -gt 1 ]; then
  pids=()
  for t in "${targets[@]}"; do
    run_target "$t" >"$logs/$t.result" 2>&1 &
    pids+=($!)
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  done
  for p in "${pids[@]}"; do wait "$p" || true; done
  for t in "${targets[@]}"; do
    cat "$logs/$t.result"
    grep -q FAILED "$logs/$t.result" && failed=1
  done
else
  for t in "${targets[@]}"; do run_target "$t" || failed=1; done
fi
exit "$failed"

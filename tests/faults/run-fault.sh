#!/usr/bin/env bash
# Runs one case of the fault table: builds a data file set with one injected
# fault, runs the halvorn program over it, and checks
#   - standard output, standard error and the exit code, byte for byte,
#     against the case's expected/ files;
#   - that every file of the set is unchanged afterwards (checksums, sizes
#     and modes taken before and after the run);
#   - when the case names its last good record (file "last-record"), that the
#     report points at it: the engine position printed is that record's, the
#     physical position printed is its slot, and LASTREC.DMP holds its bytes
#     as they stand in the file ("N walk": the walk's part only, for a run
#     whose report cannot be printed); "none" means that no record was read.
# With GOLDEN_UPDATE=1 the expected files are written from the run instead
# (every byte is then reviewed by hand; the other checks still run).
#
# run-fault.sh HALVORN MKBTRIEVE CASE_DIR
#
# The case's setup.sh is run by bash in the working directory with these
# helpers defined (see README.md):
#   build ARGS...            mkbtrieve ARGS... --list (its output is kept)
#   poke FILE OFFSET HEX...  writes the bytes (two hex digits each) in place
#   cut FILE SIZE            truncates (or sparsely grows) a file
#   hold_lock FILE           another process holds an exclusive flock on FILE
#                            for the length of the run
#   skip MESSAGE             the case cannot run here: exit code 77
# Exit codes: 0 passed, 1 failed, 77 skipped.
set -u

if [ $# -ne 3 ]; then
  echo "usage: run-fault.sh HALVORN MKBTRIEVE CASE_DIR" >&2
  exit 2
fi
# The setup and the run happen in another folder: the programs by full path.
program="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
mkbtrieve="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
case_dir="$(cd "$3" && pwd)"
name="$(basename "$case_dir")"
expected="$case_dir/expected"
update="${GOLDEN_UPDATE:-0}"

top="$(mktemp -d "${TMPDIR:-/tmp}/fault.XXXXXX")"
work="$top/work"
meta="$top/meta"
actual="$top/actual"
mkdir -p "$work" "$meta" "$actual"
: >"$meta/pids"

cleanup() {
  # Only the processes that this case's setup started, by their ids.
  while read -r pid; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done <"$meta/pids"
  chmod -R u+rwx "$top" 2>/dev/null
  rm -rf "$top"
}
trap cleanup EXIT

# ------------------------------------------------------------------ setup

cat >"$meta/helpers.sh" <<'EOF'
build() {
  "$FAULT_MKBTRIEVE" "$@" --list >"$FAULT_META/build.txt" || {
    echo "setup: mkbtrieve $* failed" >&2; exit 1; }
}
poke() {
  local file="$1" offset="$2"; shift 2
  local bytes=""
  for hex in "$@"; do bytes="$bytes\\x$hex"; done
  printf "$bytes" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none || {
    echo "setup: poke $file $offset failed" >&2; exit 1; }
}
cut() {
  truncate -s "$2" "$1" || { echo "setup: cut $1 $2 failed" >&2; exit 1; }
}
hold_lock() {
  # A subshell takes the lock on its descriptor 9 and becomes a sleep that
  # keeps the descriptor: killing that one process releases the lock.
  ( exec 9<"$1"; flock -x 9; exec sleep 300 ) &
  echo $! >>"$FAULT_META/pids"
  local tries=0
  while flock -n -x "$1" true 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -gt 200 ] && { echo "setup: the lock on $1 was not taken" >&2; exit 1; }
    sleep 0.05
  done
}
skip() {
  echo "$*" >"$FAULT_META/skip"
  exit 77
}
EOF

(cd "$work" && FAULT_MKBTRIEVE="$mkbtrieve" FAULT_META="$meta" CASE_DIR="$case_dir" \
   bash -c 'set -e; source "$FAULT_META/helpers.sh"; source "$CASE_DIR/setup.sh"' \
   >"$meta/setup.log" 2>&1)
setup_status=$?
if [ "$setup_status" = 77 ]; then
  echo "SKIP: $name: $(cat "$meta/skip" 2>/dev/null)"
  exit 77
elif [ "$setup_status" != 0 ]; then
  echo "FAIL: $name: setup failed:" >&2
  cat "$meta/setup.log" >&2
  exit 1
fi

# ------------------------------------------------------------------ the run

# What the set looks like: every entry's type and mode, and the checksum of
# every file that can be read (size and time of the others).
fingerprint() {
  (cd "$work" && find . -mindepth 1 ! -name LASTREC.DMP ! -name HALVORN.UNF | LC_ALL=C sort |
   while IFS= read -r entry; do
     if [ -f "$entry" ] && [ -r "$entry" ]; then
       printf '%s %s %s\n' "$entry" "$(stat -c '%F %a %s' "$entry")" \
              "$(sha256sum <"$entry" | cut -d' ' -f1)"
     else
       printf '%s %s\n' "$entry" "$(stat -c '%F %a %s %Y' "$entry")"
     fi
   done)
}
fingerprint >"$meta/before"
if [ ! -s "$meta/before" ]; then
  echo "FAIL: $name: the setup left no files" >&2
  exit 1
fi

args=()
if [ -f "$case_dir/args" ]; then
  while IFS= read -r arg || [ -n "$arg" ]; do
    args+=("${arg%$'\r'}")
  done <"$case_dir/args"
fi
(cd "$work" && exec timeout 60 "$program" "${args[@]+"${args[@]}"}" \
   </dev/null >"$actual/stdout" 2>"$actual/stderr")
echo "$?" >"$actual/exit"

fingerprint >"$meta/after"

status=0
fail() {
  echo "FAIL: $name: $*" >&2
  status=1
}

if ! cmp -s "$meta/before" "$meta/after"; then
  fail "the data file set changed during the run:"
  diff -u "$meta/before" "$meta/after" >&2
fi
if [ "$(cat "$actual/exit")" = 124 ]; then
  fail "the run did not end within 60 seconds"
fi

# ------------------------------------------------------------------ last good record

hex_of() {  # the value printed after a label, as one lower-case hex number
  sed -n "s/^$1 *: 0x\\([0-9a-f]*\\)\\(:\\([0-9a-f]*\\)\\)\\{0,1\\}.*/\\1\\3/p" "$actual/stdout" |
    head -n 1
}

if [ -f "$case_dir/last-record" ]; then
  # "N", or "none"; after N the words "walk" (the report cannot be printed:
  # only the walk's position and LASTREC.DMP are checked) and
  # "position=0x..." (the engine position the record has in the damaged
  # file, when the fault changes it from the one the builder lists).
  read -r want_record words <"$case_dir/last-record"
  scope=report
  want_position=""
  for word in $words; do
    case "$word" in
      walk) scope=walk ;;
      position=*) want_position="${word#position=}" ;;
      *) fail "unknown word in last-record: $word" ;;
    esac
  done
  if [ "$want_record" = none ]; then
    grep -qx 'Records Scanned        : 0' "$actual/stdout" ||
      fail "a record was read, none was expected"
    [ "$(hex_of 'Final Btrieve Position')" = 00000000 ] ||
      fail "the final position is not 0 although no record was read"
  else
    line="$(awk -v r="$want_record" '$1 == r && NF == 8 { print; exit }' "$meta/build.txt")"
    version="$(sed -n 's/^Wrote .*: version \([0-9]*\)\.\([0-9a-f]*\),.*/\1/p' "$meta/build.txt")"
    record_length="$(sed -n 's/^  [0-9]* records of \([0-9]*\) bytes.*/\1/p' "$meta/build.txt")"
    if [ -z "$line" ] || [ -z "$version" ] || [ -z "$record_length" ]; then
      fail "record $want_record is not in the builder's list"
    else
      read -r _ _ _ _ slot_offset part part_offset position <<<"$line"
      [ -n "$want_position" ] && position="$want_position"
      [ "0x$(hex_of 'Final Btrieve Position')" = "$position" ] ||
        fail "the final position is not record $want_record's ($position)"
      # The slot's first byte: 3.x-5.x "Final Physical Location" (32 bits),
      # 6.x "Final Physical Position" (its low 32 bits), from 7.00 the
      # 64-bit "Final Physical Position".
      slot=$((slot_offset))
      if [ "$version" -lt 6 ]; then
        printed="$(hex_of 'Final Physical Location')"
        want=$(printf '%08x' $((slot & 0xFFFFFFFF)))
      elif [ "$version" -lt 7 ]; then
        printed="$(hex_of 'Final Physical Position')"
        want=$(printf '%08x' $((slot & 0xFFFFFFFF)))
      else
        printed="$(hex_of 'Final Physical Position')"
        want=$(printf '%016x' "$slot")
      fi
      [ "$scope" = walk ] || [ "$printed" = "$want" ] ||
        fail "the physical position printed (${printed:-none}) is not record $want_record's slot ($want)"
      # LASTREC.DMP: the record as it stands in its part (after the slot's
      # usage count from 6.00 on).
      prefix=0
      [ "$version" -ge 6 ] && prefix=2
      if [ "$part" = 0 ]; then
        part_file="$(awk '$1 == "Wrote" { sub(":$", "", $2); print $2; exit }' "$meta/build.txt")"
      else
        base="$(awk '$1 == "Wrote" { sub(":$", "", $2); print $2; exit }' "$meta/build.txt")"
        part_file="${base%.*}.^$(printf '%02x' "$part")"
      fi
      if [ ! -f "$work/LASTREC.DMP" ]; then
        fail "LASTREC.DMP was not written"
      elif ! cmp -s <(head -c "$record_length" "$work/LASTREC.DMP") \
                    <(tail -c +$((part_offset + prefix + 1)) "$work/$part_file" |
                      head -c "$record_length"); then
        fail "LASTREC.DMP does not hold record $want_record's bytes"
      fi
    fi
  fi
fi

# ------------------------------------------------------------------ transcript

if [ "$update" = 1 ]; then
  mkdir -p "$expected"
  cp "$actual/stdout" "$actual/stderr" "$actual/exit" "$expected/"
  echo "updated $expected"
  exit "$status"
fi

for stream in stdout stderr exit; do
  if [ ! -e "$expected/$stream" ]; then
    fail "expected/$stream is missing"
  elif ! cmp -s "$expected/$stream" "$actual/$stream"; then
    fail "$stream differs (- expected, + actual, bytes as od -c shows them):"
    diff -u <(od -An -c "$expected/$stream") <(od -An -c "$actual/$stream") | head -n 40 >&2
  fi
done
[ "$status" = 0 ] && echo "ok: $name"
exit "$status"

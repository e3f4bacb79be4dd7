#!/usr/bin/env bash
# Runs one golden case: a program with the case's arguments in a fresh
# temporary working directory, then compares its standard output, standard
# error, exit code and output files byte for byte with the case's expected
# files. With GOLDEN_UPDATE=1 in the environment it writes the expected files
# from the run instead (review them with git diff).
#
# run-case.sh [--emulator WORD]... [--path DIR]... [--setup SCRIPT]
#             [--watch NAME]... [--platform NAME] PROGRAM CASE_DIR
# The layout of a case folder is described in README.md beside this script.
set -u

emulator=()
paths=()
default_setup=""
watch=(LASTREC.DMP HALVORN.UNF calls.log)
platform=""
while [ $# -gt 2 ]; do
  case "$1" in
    --emulator) emulator+=("$2"); shift 2 ;;
    --path) paths+=("$2"); shift 2 ;;
    --setup) default_setup="$2"; shift 2 ;;
    --watch) watch+=("$2"); shift 2 ;;
    --platform) platform="$2"; shift 2 ;;
    *) echo "run-case.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ $# -ne 2 ]; then
  echo "usage: run-case.sh [options] PROGRAM CASE_DIR" >&2
  exit 2
fi
program="$1"
case_dir="$(cd "$2" && pwd)"
expected="$case_dir/expected"
update="${GOLDEN_UPDATE:-0}"

top="$(mktemp -d "${TMPDIR:-/tmp}/golden.XXXXXX")"
trap 'rm -rf "$top"' EXIT
work="$top/work"
actual="$top/actual"
mkdir -p "$work" "$actual"

# Names in the case's file "ignore" are not compared (nor updated).
ignore=" "
if [ -f "$case_dir/ignore" ]; then
  while IFS= read -r name || [ -n "$name" ]; do
    [ -n "$name" ] && ignore="$ignore$name "
  done <"$case_dir/ignore"
fi

if [ -f "$case_dir/watch" ]; then
  while IFS= read -r name || [ -n "$name" ]; do
    [ -n "$name" ] && watch+=("$name")
  done <"$case_dir/watch"
fi

# The scripted engine reads its script and writes its call log in the
# working directory.
if [ -f "$case_dir/script" ]; then
  cp "$case_dir/script" "$work/engine.script"
  export HALVORN_SCRIPT=engine.script
  export HALVORN_CALL_LOG=calls.log
else
  unset HALVORN_SCRIPT HALVORN_CALL_LOG
fi

# The setup steps create the case's input files in the working directory:
# first the common one given with --setup, then the case's own setup.sh.
setups=()
[ -n "$default_setup" ] && setups+=("$default_setup")
[ -f "$case_dir/setup.sh" ] && setups+=("$case_dir/setup.sh")
path_prefix=""
for dir in "${paths[@]+"${paths[@]}"}"; do path_prefix="$path_prefix$dir:"; done
for setup in "${setups[@]+"${setups[@]}"}"; do
  if ! (cd "$work" && CASE_DIR="$case_dir" GOLDEN_WORK_DIR="$work" \
        GOLDEN_EMULATOR="${emulator[*]+"${emulator[*]}"}" PATH="$path_prefix$PATH" \
        bash "$setup" >"$top/setup.log" 2>&1); then
    echo "FAIL: setup $setup failed:" >&2
    cat "$top/setup.log" >&2
    exit 1
  fi
done

args=()
if [ -f "$case_dir/args" ]; then
  while IFS= read -r arg || [ -n "$arg" ]; do
    args+=("${arg%$'\r'}")
  done <"$case_dir/args"
fi

(cd "$work" && exec timeout 120 "${emulator[@]+"${emulator[@]}"}" "$program" \
   "${args[@]+"${args[@]}"}" </dev/null >"$actual/stdout" 2>"$actual/stderr")
echo "$?" >"$actual/exit"
# Only regular files are taken: a name that the setup made a directory or a
# link to a device counts as not written.
for name in "${watch[@]}"; do
  [ -f "$work/$name" ] && cp "$work/$name" "$actual/$name"
done

# The expected file of a name: a platform's own version when there is one.
expected_file() {
  if [ -n "$platform" ] && [ -e "$expected/$1.$platform" ]; then
    echo "$expected/$1.$platform"
  else
    echo "$expected/$1"
  fi
}

if [ "$update" = 1 ]; then
  mkdir -p "$expected"
  for name in stdout stderr exit "${watch[@]}"; do
    case "$ignore" in *" $name "*) continue ;; esac
    target="$(expected_file "$name")"
    if [ -e "$actual/$name" ]; then
      cp "$actual/$name" "$target"
    else
      rm -f "$target"
    fi
  done
  echo "updated $expected"
  exit 0
fi

status=0
for name in stdout stderr exit "${watch[@]}"; do
  case "$ignore" in *" $name "*) continue ;; esac
  want="$(expected_file "$name")"
  got="$actual/$name"
  if [ ! -e "$want" ] && [ ! -e "$got" ]; then
    continue
  elif [ ! -e "$want" ]; then
    echo "FAIL: $name was written but is not expected" >&2
    status=1
  elif [ ! -e "$got" ]; then
    echo "FAIL: $name was expected but not written" >&2
    status=1
  elif ! cmp -s "$want" "$got"; then
    echo "FAIL: $name differs (- expected, + actual, bytes as od -c shows them):" >&2
    diff -u <(od -An -c "$want") <(od -An -c "$got") | head -n 40 >&2
    status=1
  fi
done
[ "$status" = 0 ] && echo "ok: $(basename "$case_dir")"
exit "$status"

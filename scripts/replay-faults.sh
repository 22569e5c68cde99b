#!/usr/bin/env bash
# Plants each fault of scripts/faults.txt (or only the ids given) in turn, rebuilds, runs the tests
# its entry names and restores the file. A fault is CAUGHT when a test fails, or the build fails in
# a test's own source or a static_assert; BUILD-BROKEN when the build fails elsewhere; MISSED when
# every test passes. Uses build/native (and build/win32 for Wine tests), configured as
# scripts/test.sh does, and remakes dist/ with scripts/package.sh for the package test. Logs go to
# build/faults/<id>.log.
# Environment: FAULTS (list file), FAULT_TIME_LIMIT (seconds per ctest run, default 900),
# FAULT_TEST (ctest arguments used instead of each entry's own), JOBS (default 2).
set -uo pipefail
cd "$(dirname "$0")/.."
list=${FAULTS:-scripts/faults.txt}
limit=${FAULT_TIME_LIMIT:-900}
logs=build/faults
mkdir -p "$logs"

planted=
restore() { [ -n "$planted" ] && git checkout -q -- "$planted"; planted=; }
trap restore EXIT
trap 'restore; exit 130' INT TERM

results=()
caught=0
missed=0
started=$SECONDS
built_win32=
packaged=

# Builds one tree; a failure in a test source or a static_assert is the fault being caught.
build() {
  cmake --build "$1" -j"${JOBS:-2}" >>"$log" 2>&1 && return 0
  grep -qE '(^|/)tests/[^:]*:[0-9]+(:[0-9]+)?: (fatal )?error|static_assert' "$log" && return 1
  return 2
}

replay() {
  local id=$1 file=$2 sub=$3 test=$4 result
  local -a args
  read -ra args <<<"${FAULT_TEST:-$test}"
  log=$logs/$id.log
  : >"$log"
  if ! git diff --quiet HEAD -- "$file"; then
    result="SKIPPED (uncommitted changes in $file)"
  elif planted=$file && ! perl -0pi -e "$sub" "$file" || git diff --quiet -- "$file"; then
    result="DOES-NOT-APPLY"
    echo "$id: the substitution does not apply to $file" >&2
  else
    local status=0
    if [[ " ${args[*]} " == *wine* ]]; then
      build build/win32 && built_win32=1 || status=$?
    else
      args+=(-LE wine) # a cli.* pattern would otherwise take the Windows console test too
    fi
    [ "$status" = 0 ] && { build build/native || status=$?; }
    # The package test reads dist/: make the packages again from the planted tree.
    if [ "$status" = 0 ] && [[ " ${args[*]} " == *package* ]]; then
      packaged=1
      bash scripts/package.sh >>"$log" 2>&1 || status=2
    fi
    if [ "$status" = 1 ]; then
      result=CAUGHT
    elif [ "$status" = 2 ]; then
      result=BUILD-BROKEN
    else
      timeout "$limit" ctest --test-dir build/native --no-tests=error --output-on-failure "${args[@]}" >>"$log" 2>&1
      status=$?
      if grep -q 'No tests were found' "$log"; then
        result="NO-TESTS (${args[*]})"
      elif [ "$status" = 0 ]; then
        result=MISSED
      else
        result=CAUGHT
        [ "$status" = 124 ] && result="CAUGHT (time limit)"
      fi
    fi
  fi
  restore
  case $result in CAUGHT*) caught=$((caught + 1)) ;; *) missed=$((missed + 1)) ;; esac
  results+=("$(printf '%-30s %-14s %s' "$id" "$result" "${FAULT_TEST:-$test}")")
  echo "${results[-1]}"
}

declare -A want=()
for id in "$@"; do want[$id]=1; done
id= file= sub= test=
flush() {
  if [ -n "$id" ] && { [ ${#want[@]} -eq 0 ] || [ -n "${want[$id]:-}" ]; }; then
    replay "$id" "$file" "$sub" "$test"
  fi
  id= file= sub= test=
}
while IFS= read -r line || [ -n "$line" ]; do
  case $line in
    '#'*) ;;
    '') flush ;;
    *:*)
      key=${line%%:*} value=${line#*:} value=${value#"${value%%[! ]*}"}
      case $key in id) id=$value ;; file) file=$value ;; sub) sub=$value ;; test) test=$value ;; esac
      ;;
  esac
done <"$list"
flush

# Leave the build trees matching the restored sources.
log=$logs/rebuild.log
: >"$log"
cmake --build build/native -j"${JOBS:-2}" >>"$log" 2>&1
[ -n "$built_win32" ] && cmake --build build/win32 -j"${JOBS:-2}" >>"$log" 2>&1
[ -n "$packaged" ] && bash scripts/package.sh >>"$log" 2>&1

echo "== results ($((SECONDS - started)) s)"
printf '%s\n' "${results[@]}"
echo "$caught caught, $missed missed"
[ "$missed" = 0 ]

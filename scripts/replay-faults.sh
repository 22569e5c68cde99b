#!/usr/bin/env bash
# Plants each fault of scripts/faults.txt (or only the ids given) in turn, rebuilds, runs the tests
# its entry names and restores the file. A fault is CAUGHT when a test fails, or the build fails in
# a test's own source or a static_assert; BUILD-BROKEN when the build fails elsewhere; MISSED when
# every test passes. Uses build/native (and build/win32 for Wine tests), configured as
# scripts/test.sh does, and remakes dist/ with scripts/package.sh for the package test. Logs go to
# build/faults/<id>.log.
# Environment: FAULTS (list file), FAULT_TIME_LIMIT (seconds per ctest run, default 900),
# FAULT_TEST (ctest arguments used instead of each entry's own), JOBS (default 2).
# With --check it builds and runs nothing and only checks that every row still applies: each
# s/// of its sub finds its text exactly once, and the file changes (CI does this first).
set -uo pipefail
cd "$(dirname "$0")/.."
list=${FAULTS:-scripts/faults.txt}

# Calls ACTION ID FILE SUB TEST for each row of the list.
each_row() {
  local id= file= sub= test= line key value
  while IFS= read -r -u 3 line || [ -n "$line" ]; do
    case $line in
      '#'*) ;;
      '')
        [ -z "$id" ] || "$1" "$id" "$file" "$sub" "$test"
        id= file= sub= test=
        ;;
      *:*)
        key=${line%%:*} value=${line#*:} value=${value#"${value%%[! ]*}"}
        case $key in id) id=$value ;; file) file=$value ;; sub) sub=$value ;; test) test=$value ;; esac
        ;;
    esac
  done 3<"$list" # not stdin: a test that reads it (script, in tsan.find) would eat the list
  [ -z "$id" ] || "$1" "$id" "$file" "$sub" "$test"
}

check_row() {
  perl -e '
    my ($file, $sub) = @ARGV;
    open my $in, "<", $file or die "$file: $!\n";
    local $/;
    $_ = <$in>;
    my $before = $_;
    for my $part (split /;\s*(?=s\/)/, $sub) {
      my $copy = $_;
      my $found = eval "\$copy =~ ${part}g" || 0;
      die $@ if $@;
      die "found $found times, not once: $part\n" if $found != 1;
      eval $part;
    }
    die "the file does not change\n" if $_ eq $before;
  ' "$2" "$3" 2>&1 | sed "s|^|$1 ($2): |"
  [ "${PIPESTATUS[0]}" = 0 ] || status=1
}

if [ "${1:-}" = --check ]; then
  status=0
  each_row check_row
  exit "$status"
fi
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
wine_run_dir=$(sed -n 's/^VALDRIX_WINE_RUN_DIR:PATH=//p' build/native/CMakeCache.txt 2>/dev/null)
wine_run_dir=$(realpath -m --relative-to=. "${wine_run_dir:-build/win32}")

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
      # The Wine tests run the build the native tree was configured with (win64 where this
      # machine cannot run 32-bit code): that one must carry the fault.
      build build/win32 && built_win32=1 || status=$?
      [ "$status" != 0 ] || [ "$wine_run_dir" = build/win32 ] || build "$wine_run_dir" || status=$?
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
replay_wanted() {
  if [ ${#want[@]} -eq 0 ] || [ -n "${want[$1]:-}" ]; then replay "$@"; fi
}
each_row replay_wanted

# Leave the build trees matching the restored sources.
log=$logs/rebuild.log
: >"$log"
cmake --build build/native -j"${JOBS:-2}" >>"$log" 2>&1
[ -n "$built_win32" ] && cmake --build build/win32 -j"${JOBS:-2}" >>"$log" 2>&1 &&
  cmake --build "$wine_run_dir" -j"${JOBS:-2}" >>"$log" 2>&1
[ -n "$packaged" ] && bash scripts/package.sh >>"$log" 2>&1

echo "== results ($((SECONDS - started)) s)"
printf '%s\n' "${results[@]}"
echo "$caught caught, $missed missed"
[ "$missed" = 0 ]

#!/usr/bin/env bash
# Runs every fuzz target of tests/fuzz for a bounded time, one after the other, and
# prints executions, coverage and findings per target.
#
#   tools/fuzz.sh [seconds per target, default 60] [target ...]
#
# Builds the fuzz tree first (cmake --preset fuzz: clang 14, libFuzzer,
# AddressSanitizer and UBSan). What a run finds new is kept in build/fuzz/corpus/<target>;
# an input that breaks a target lands in build/fuzz/findings/<target>/ and the script
# ends with status 1. Such an input belongs in tests/fuzz/<target>/regressions/ once
# the parser is fixed: the host build runs every file there as a test.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
all_targets=(image gunzip boot_loader_stream package_texts wcestest_args bridge_frames release_file)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

tools/setup-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

# The image target writes its input to a file every run: a memory-backed folder makes
# that several times faster.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi

build=$PWD/build/fuzz
source=$PWD/tests/fuzz
status=0
printf '%-20s %12s %8s %8s %8s  %s\n' target executions cov features corpus result
for t in "${targets[@]}"; do
  program=$build/tests/fuzz/fuzz_$t
  [ -x "$program" ] || { echo "fuzz.sh: no fuzz target $t" >&2; exit 2; }
  corpus=$build/corpus/$t
  findings=$build/findings/$t
  log=$build/logs/$t.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  dict=()
  [ -f "$source/$t/$t.dict" ] && dict=(-dict="$source/$t/$t.dict")
  # New finds go to the first folder only: the checked-in seeds stay as they are.
  folders=("$corpus" "$source/$t/seeds")
  [ -d "$source/$t/regressions" ] && folders+=("$source/$t/regressions")
  # One input may take 25 s at most: anything slower is a hang to report (a healthy
  # input takes milliseconds; the margin is for a machine that stalls under others'
  # load). stdout of the code under test is closed; libFuzzer reports on stderr.
  set +e
  nice "$program" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -close_fd_mask=1 \
       -print_final_stats=1 -artifact_prefix="$findings/" "${dict[@]}" "${folders[@]}" >"$log" 2>&1
  rc=$?
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  result=clean
  if [ $rc -ne 0 ]; then
    result="FOUND (exit $rc): $(ls "$findings" | tr '\n' ' ')see $log"
    status=1
  fi
  printf '%-20s %12s %8s %8s %8s  %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result"
done
exit $status

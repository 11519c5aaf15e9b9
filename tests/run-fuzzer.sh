#!/bin/bash
# Runs a libFuzzer harness briefly over its committed seed corpus; new inputs
# go to a scratch folder so the committed corpus stays as it is. The scratch
# folder goes when the run ends, however it ends (a finding, a crash, a stop).
set -u
fuzzer=$1 corpus=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/grv-fuzz.XXXXXX")
. "$here/run-common.sh"
trap 'remove_run_folder "$scratch"' EXIT

export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
dirs=("$scratch")
[ -d "$corpus" ] && dirs+=("$corpus")
cd "$scratch" || exit 1
run_stoppable "$fuzzer" -max_total_time="${GRV_FUZZ_SECONDS:-10}" -rss_limit_mb=2048 \
  -timeout=20 -print_final_stats=1 "${dirs[@]}"
status=$?
# The scratch folder goes, so an input that failed is kept in the log, where
# it can be taken back (base64 -d) and run again.
for found in crash-* leak-* timeout-* oom-*; do
  [ -f "$found" ] || continue
  echo "run-fuzzer: $found as base64:"
  base64 -w 76 "$found"
done
exit $status

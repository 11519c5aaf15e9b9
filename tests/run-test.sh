#!/bin/bash
# Runs one test executable in a fresh, private home: nothing a test writes
# reaches the user's real profile, and every run starts from nothing. When it
# ends, however it ends (a failure, a crash, a stop), its folder goes, and so
# do the loopback peers a test that died could not stop.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/grv-test.XXXXXX")
# Other users pass through (but cannot list) the root to reach shared/, where
# the peers' service accounts and nobody read what a test prepared for them;
# the rest stays the test's own.
chmod 711 "$root"
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime" "$root/tmp" "$root/shared"
chmod 700 "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime" "$root/tmp"
chmod 755 "$root/shared"

. "$here/run-common.sh"
trap 'remove_run_folder "$root"' EXIT

export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" \
       XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp" \
       GRV_SHARED_TMP="$root/shared"
export TZ="${GRV_TEST_TZ:-Europe/Berlin}"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 LANG=C.UTF-8
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

# For other users the runner leaves out the tests only root can run
# ($needs_root, run-common.sh) and names them, also into $GRV_LEFT_OUT, which
# scripts/test prints at its end.
if [ "$(id -u)" != 0 ] && [ -z "${GTEST_FILTER:-}" ]; then
  case $(basename "$1") in
  *_tests)
    left=$("$@" --gtest_list_tests --gtest_filter="$needs_root" 2>/dev/null |
      awk '/^[^ ]/ { suite = $1 } /^  / && $1 !~ /^DISABLED_/ { printf "%s%s%s", sep, suite, $1; sep = " " }')
    if [ -n "$left" ]; then
      echo "run-test: not root, so these tests are left out, as $needs_root_why: $left"
      [ -n "${GRV_LEFT_OUT:-}" ] && echo "$(basename "$1"): $left" >>"$GRV_LEFT_OUT"
    fi
    ;;
  esac
  export GTEST_FILTER="-$needs_root"
fi

run_stoppable "$@"

#!/bin/bash
# Runs one test executable in a fresh, private home: nothing a test writes
# reaches the user's real profile, and every run starts from nothing.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/grv-test.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/home" "$root/config" "$root/data" "$root/cache" "$root/runtime" "$root/tmp"
chmod 700 "$root/runtime"
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data" \
       XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime" TMPDIR="$root/tmp"
export TZ="${GRV_TEST_TZ:-Europe/Berlin}"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 LANG=C.UTF-8
here=$(cd "$(dirname "$0")" && pwd)
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
# The permission tests prepare files owned by another user, and the AsRoot
# tests make a private host name: only root can (CI runs as root); say so
# rather than fail elsewhere.
if [ "$(id -u)" != 0 ] && [ -z "${GTEST_FILTER:-}" ]; then
  echo "run-test: not root, so the permission and root tests (AsNobody.*, AsRoot.*) are not run"
  export GTEST_FILTER='-AsNobody.*:AsRoot.*'
fi
"$@"

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

# Each group of tests that needs an operation this runner cannot do
# ($needs_table, run-common.sh) is left out and named, also into
# $GRV_LEFT_OUT, which scripts/test prints at its end. A filter given by hand
# is run as it is; GRV_ONLY, a filter of scripts/test's, still leaves the
# groups out, named once already by the run of every test.
if [ -z "${GTEST_FILTER:-}" ]; then
  only=${GRV_ONLY:-}
  filter=
  case $(basename "$1") in
  *_tests)
    names() {
      "$@" --gtest_list_tests 2>/dev/null |
        awk '/^[^ ]/ { suite = $1 } /^  / && $1 !~ /^DISABLED_/ { print suite $1 }'
    }
    for row in "${needs_table[@]}"; do
      IFS='|' read -r pattern probe why <<<"$row"
      "$probe" && continue
      filter="$filter${filter:+:}$pattern"
      left=$(names "$@" --gtest_filter="$pattern")
      [ -z "$only" ] || left=$(grep -Fxf <(names "$@" --gtest_filter="$only") <<<"$left")
      left=$(tr '\n' ' ' <<<"$left" | sed 's/ *$//')
      [ -n "$left" ] || continue
      echo "run-test: left out, as $why, which this runner cannot do: $left"
      [ -n "${GRV_LEFT_OUT:-}" ] && [ -z "$only" ] && echo "$(basename "$1"), as $why: $left" >>"$GRV_LEFT_OUT"
    done
    ;;
  esac
  if [ -n "$filter" ]; then
    export GTEST_FILTER="$only-$filter"
  elif [ -n "$only" ]; then
    export GTEST_FILTER=$only
  fi
fi

run_stoppable "$@"

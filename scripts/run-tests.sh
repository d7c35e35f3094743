#!/bin/sh
# Runs the test suite against a private Xvfb screen of 1280x1024 (and a
# second one of 640x480, for what must fit a small screen); options
# after the build directory go to ctest (-L gui, -LE root, -R REGEX ...).
# The GUI tests share that one server, so ctest runs them one at a time
# (whatever CTEST_PARALLEL_LEVEL says).  The server is not reset when its
# last client goes: a reset races with the next test's connection, and the
# root window keeps what earlier Motif clients left on it, as a user's does.
# Cases that need root are reported as skipped for anybody else, and the
# last line says how many were skipped.
set -eu
unset CDPATH  # cd would print the directory it found

usage() {
    echo "usage: $0 [BUILD_DIR [CTEST_OPTION...]]" >&2
    exit 2
}

build=${1:-build}
[ "$#" -eq 0 ] || shift
[ -f "$build/CTestTestfile.cmake" ] || usage
build=$(cd "$build" && pwd)
screen="-screen 0 1280x1024x24 -screen 1 640x480x24 -ac +extension XTEST -nolisten tcp -noreset"
results=$build/Testing/run-tests.xml

rm -f "$results"
status=0
xvfb-run -a -s "$screen" ctest --test-dir "$build" --parallel 1 --output-on-failure \
    --output-junit "$results" "$@" || status=$?

# ctest's own summary lists the skipped tests by name; count them.
count() {
    sed -n "s/^[[:space:]]*$1=\"\([0-9]*\)\".*/\1/p" "$results" | head -n 1
}
if [ -f "$results" ]; then
    skipped=$(count skipped)
    echo "run-tests: ${skipped:-0} of $(count tests) tests skipped" \
        "(they need root or more free disk space; see README)"
fi
exit "$status"

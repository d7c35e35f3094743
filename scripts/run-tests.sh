#!/bin/sh
# Runs the whole test suite against a private Xvfb screen of 1280x1024.
# The GUI tests share that one server, so ctest runs them one at a time.
set -eu

build=${1:-build}
screen="-screen 0 1280x1024x24 -ac +extension XTEST -nolisten tcp"

exec xvfb-run -a -s "$screen" ctest --test-dir "$build" --output-on-failure

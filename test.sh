#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite.
set -u
source "$(cd "$(dirname "$0")" && pwd)/tools/setup.sh"
cd "$ROOT/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"

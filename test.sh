#!/usr/bin/env bash
# Sets up what is missing, builds, and runs the whole test suite.
#   ./test.sh [ctest options]             in build/
#   ./test.sh --sanitize [ctest options]  in build-asan/, every program checked by
#                                         AddressSanitizer and UndefinedBehaviorSanitizer
set -u
SETUP_SANITIZE=0
if [ "${1:-}" = "--sanitize" ]; then
    SETUP_SANITIZE=1
    shift
fi
source "$(cd "$(dirname "$0")" && pwd)/tools/setup.sh"
cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"

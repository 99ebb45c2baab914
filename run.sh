#!/usr/bin/env bash
# Sets up what is missing, builds, and starts the program in run/.
#   ./run.sh           the program as an operator uses it
#   ./run.sh --demo    the same, with the simulated instruments attached
set -u
source "$(cd "$(dirname "$0")" && pwd)/tools/setup.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found. Run it as:  xvfb-run -s '-screen 0 1280x1024x24' ./run.sh"
    echo "or without any window:       QT_QPA_PLATFORM=offscreen ./run.sh"
    exit 1
fi

cd "$ROOT/run" || exit 1
exec "$ROOT/build/quelmar" "$@"

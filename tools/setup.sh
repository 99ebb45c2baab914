#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: system packages, build, runtime folder.
# Sourced, not run; leaves the build in build/ and the runtime folder in run/.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5sql5-sqlite
          qttools5-dev qttools5-dev-tools qttranslations5-l10n sqlite3 fonts-noto-cjk fonts-wqy-microhei
          python3 xvfb xauth imagemagick poppler-utils openssl)

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "缺少系统软件包 / missing system packages. Please run:"
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}"
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}" || exit 1
}

build_all() {
    cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
    cmake --build "$ROOT/build" -- -j2 || exit 1
}

# run/maindb.db is seeded only when absent or empty (0 bytes, as the program
# leaves it when started without one): a database with data is never replaced.
prepare_runtime() {
    mkdir -p "$ROOT/run/image" "$ROOT/backup"
    if [ ! -s "$ROOT/run/maindb.db" ]; then
        sqlite3 "$ROOT/run/maindb.db" < "$ROOT/db/maindb.sql" || { rm -f "$ROOT/run/maindb.db"; exit 1; }
        echo "Created run/maindb.db"
    fi
    [ -e "$ROOT/run/image/diy-report.jpg" ] || cp "$ROOT/resources/image/diy-report.jpg" "$ROOT/run/image/"
}

install_packages
build_all
prepare_runtime

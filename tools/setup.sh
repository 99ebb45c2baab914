#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: system packages, build, runtime folder.
# Sourced, not run; leaves the build in build/ and the runtime folder in run/.
# With SETUP_SANITIZE=1 the build is the checked one in build-asan/ (clang,
# AddressSanitizer + UndefinedBehaviorSanitizer, the libFuzzer targets);
# BUILD_TARGETS limits the build to the targets named.
# With SETUP_PACKAGING=1 (package.sh) the build is the Release one in build-pkg/
# with Debian's hardening flags, limited to what the package installs, and the
# packaging tools are installed as well.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(cmake make g++ qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5sql5-sqlite
          qttools5-dev qttools5-dev-tools qttranslations5-l10n sqlite3 fonts-noto-cjk fonts-wqy-microhei fonts-hanazono
          python3 xvfb xauth imagemagick poppler-utils libqwt-qt5-dev openssl
          pkg-config libxlsxwriter-dev python3-openpyxl python3-fonttools postgresql libqt5sql5-psql)
# Only the checked build (./test.sh --sanitize, tests/fuzz/run.sh) needs these.
SANITIZE_PACKAGES=(clang-14 libclang-rt-14-dev llvm-14)
# Only building and checking the Debian package (package.sh) needs these.
PACKAGING_PACKAGES=(dpkg-dev fakeroot file lintian desktop-file-utils appstream help2man)

BUILD_DIR="$ROOT/build"
CMAKE_OPTIONS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${SETUP_SANITIZE:-0}" = 1 ]; then
    PACKAGES+=("${SANITIZE_PACKAGES[@]}")
    BUILD_DIR="$ROOT/build-asan"
    CMAKE_OPTIONS+=(-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
                    -DQUELMAR_SANITIZE=ON -DQUELMAR_FUZZ=ON)
    # Readable stack traces; leaks of the system's libraries are not ours.
    export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
    export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:check_initialization_order=1"
    export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
if [ "${SETUP_PACKAGING:-0}" = 1 ]; then
    PACKAGES+=("${PACKAGING_PACKAGES[@]}")
    BUILD_DIR="$ROOT/build-pkg"
    BUILD_TARGETS="${BUILD_TARGETS:-quelmar quelmar-analyzer-sim quelmar-station-sim quelmar-package-data}"
fi

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

# Release flags of a Debian package (hardening, no debug information: the
# package's binaries are stripped); cpack then installs only what was built.
packaging_options() {
    local cxxflags
    cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    CMAKE_OPTIONS=(-DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=${cxxflags//-g /}"
                   "-DCMAKE_EXE_LINKER_FLAGS=$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)"
                   -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON)
}

build_all() {
    [ "${SETUP_PACKAGING:-0}" = 1 ] && packaging_options
    cmake -S "$ROOT" -B "$BUILD_DIR" "${CMAKE_OPTIONS[@]}" >/dev/null || exit 1
    local targets=()
    for t in ${BUILD_TARGETS:-}; do targets+=(--target "$t"); done
    cmake --build "$BUILD_DIR" "${targets[@]}" -- -j2 || exit 1
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
[ "${SETUP_PACKAGING:-0}" = 1 ] || prepare_runtime

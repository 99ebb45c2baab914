#!/usr/bin/env bash
# Builds the Debian package quelmar_<version>_amd64.deb from a Release build
# in build-pkg/ and prints its path on stdout (progress goes to stderr).
# Installs the packaging tools first when run as root (SETUP_PACKAGING=1).
set -u
SETUP_PACKAGING=1
source "$(cd "$(dirname "$0")" && pwd)/tools/setup.sh" >&2

cd "$BUILD_DIR" || exit 1
rm -f quelmar_*.deb
cpack -G DEB >&2 || { echo "package.sh: cpack failed" >&2; exit 1; }
debs=(quelmar_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -s "${debs[0]}" ]; then
    echo "package.sh: expected one quelmar_*.deb in $BUILD_DIR, found: ${debs[*]}" >&2
    exit 1
fi
echo "$BUILD_DIR/${debs[0]}"

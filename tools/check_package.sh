#!/usr/bin/env bash
# Builds the Debian package (package.sh) and checks it: file list, lintian
# without errors, the desktop entry and the AppStream metadata validated, and
# the launcher's first and later starts from the package unpacked into a
# temporary root, against a temporary home. Exits non-zero on any failure.
set -u
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
START=$(date +%s)
APP_ID=org.example.quelmar
FAILED=0

fail() {
    echo "FAIL: $*" >&2
    FAILED=1
}
step() { echo "== $*"; }

deb=$("$ROOT/package.sh") || { echo "FAIL: package.sh" >&2; exit 1; }
step "package $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends Installed-Size

step "dpkg-deb -c"
dpkg-deb -c "$deb" || fail "dpkg-deb -c"

step "lintian"
# Errors fail the check; warnings are shown. The package's own overrides
# (usr/share/lintian/overrides/quelmar) carry the reason of each one.
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

WORK=$(mktemp -d /tmp/quelmar-pkg.XXXXXX)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
ROOTFS="$WORK/root"
dpkg -x "$deb" "$ROOTFS" || { echo "FAIL: dpkg -x" >&2; exit 1; }

step "installed files"
for f in usr/bin/quelmar usr/bin/quelmar-launch usr/bin/quelmar-analyzer-sim usr/bin/quelmar-station-sim \
         usr/share/quelmar/maindb.db usr/share/quelmar/diy-report.jpg \
         usr/share/applications/$APP_ID.desktop usr/share/metainfo/$APP_ID.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/$APP_ID.svg usr/share/doc/quelmar/copyright \
         usr/share/man/man1/quelmar.1.gz usr/share/man/man1/quelmar-launch.1.gz; do
    [ -s "$ROOTFS/$f" ] || fail "missing /$f"
done
for size in 48 64 128 256; do
    png="$ROOTFS/usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png"
    file -b "$png" | grep -q "PNG image data, $size x $size" || fail "icon $png is not a ${size}x$size PNG"
done
for f in quelmar quelmar-launch quelmar-analyzer-sim quelmar-station-sim; do
    [ -x "$ROOTFS/usr/bin/$f" ] || fail "/usr/bin/$f not executable"
done

step "desktop-file-validate"
desktop-file-validate "$ROOTFS/usr/share/applications/$APP_ID.desktop" || fail "desktop-file-validate"
grep -qx "Exec=quelmar-launch" "$ROOTFS/usr/share/applications/$APP_ID.desktop" ||
    fail "the desktop entry does not start quelmar-launch"

step "appstreamcli validate --no-net"
appstreamcli validate --no-net "$ROOTFS/usr/share/metainfo/$APP_ID.metainfo.xml" || fail "appstreamcli validate"

# Starts the unpacked launcher with the environment given ("VAR=value" ...),
# waits until the program runs in |run| with its signal handler in place,
# then ends it with SIGTERM and expects a normal exit (0).
launch_and_stop() {
    local run="$1"
    shift
    env -u QUELMAR_HOME "$@" QT_QPA_PLATFORM=offscreen "$ROOTFS/usr/bin/quelmar-launch" \
        >"$WORK/launch.out" 2>"$WORK/launch.err" &
    local pid=$! ready=0
    PIDS+=("$pid")
    for _ in $(seq 1 200); do
        if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$ROOTFS/usr/bin/quelmar" ] &&
            [ "$(readlink "/proc/$pid/cwd")" = "$run" ]; then
            # SIGTERM (15) caught: the program reached its event loop set-up.
            local caught
            caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status")
            if (((0x$caught >> 14) & 1)); then
                ready=1
                break
            fi
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ $ready != 1 ]; then
        fail "the program did not start in $run"
        sed 's/^/  | /' "$WORK/launch.err" >&2
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        return 1
    fi
    kill -TERM "$pid"
    wait "$pid"
    local code=$?
    [ $code = 0 ] || { fail "the program ended with $code after SIGTERM"; sed 's/^/  | /' "$WORK/launch.err" >&2; }
}

tables() { sqlite3 "$1" "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"; }
markers() { sqlite3 "$1" "SELECT count(*) FROM Person WHERE Name='启动检查'"; }

step "first start (QUELMAR_HOME unset)"
home="$WORK/home"
mkdir -p "$home"
run="$home/.local/share/quelmar/run"
launch_and_stop "$run" HOME="$home"
[ -d "$home/.local/share/quelmar/backup" ] || fail "backup/ not created beside the working folder"
cmp -s "$run/image/diy-report.jpg" "$ROOTFS/usr/share/quelmar/diy-report.jpg" || fail "image/diy-report.jpg not copied"
[ "$(sqlite3 "$run/maindb.db" 'PRAGMA integrity_check')" = ok ] || fail "maindb.db damaged"
[ "$(tables "$run/maindb.db")" = "$(tables "$ROOTFS/usr/share/quelmar/maindb.db")" ] ||
    fail "maindb.db does not hold the template's tables"
ls -la "$run" "$run/image"

step "second start keeps the database"
sqlite3 "$run/maindb.db" "INSERT INTO Person(UID, Name) VALUES ('900001', '启动检查')" || fail "cannot write maindb.db"
launch_and_stop "$run" HOME="$home"
[ "$(markers "$run/maindb.db")" = 1 ] || fail "the second start replaced the database"

step "an empty (0-byte) database counts as missing"
: >"$run/maindb.db"
launch_and_stop "$run" HOME="$home"
[ -s "$run/maindb.db" ] && [ "$(markers "$run/maindb.db")" = 0 ] || fail "the empty database was not recreated"

step "QUELMAR_HOME names the working folder"
shared="$WORK/station/run"
launch_and_stop "$shared" HOME="$home" QUELMAR_HOME="$shared"
[ -s "$shared/maindb.db" ] && [ -d "$WORK/station/backup" ] && [ -s "$shared/image/diy-report.jpg" ] ||
    fail "QUELMAR_HOME folder not prepared"

step "demo: the packaged simulators start and end with the program"
env -u QUELMAR_HOME HOME="$home" QT_QPA_PLATFORM=offscreen "$ROOTFS/usr/bin/quelmar-launch" --demo \
    >"$WORK/demo.out" 2>"$WORK/demo.err" &
pid=$!
PIDS+=("$pid")
sims=()
for _ in $(seq 1 200); do
    sims=()
    for child in $(cat "/proc/$pid/task/$pid/children" 2>/dev/null); do
        case "$(readlink "/proc/$child/exe")" in
            "$ROOTFS/usr/bin/quelmar-analyzer-sim" | "$ROOTFS/usr/bin/quelmar-station-sim") sims+=("$child") ;;
        esac
    done
    [ ${#sims[@]} = 2 ] && break
    sleep 0.1
done
if [ ${#sims[@]} = 2 ]; then
    sleep 1
    kill -TERM "$pid"
    wait "$pid" || fail "the demo program ended with $? after SIGTERM"
    for sim in "${sims[@]}"; do
        state=$(awk '{print $3}' "/proc/$sim/stat" 2>/dev/null)
        [ -z "$state" ] || [ "$state" = Z ] || fail "simulator $sim outlived the program"
    done
else
    fail "the demo did not start both packaged simulators"
    sed 's/^/  | /' "$WORK/demo.err" >&2
fi

echo "check_package: $(($(date +%s) - START)) s"
if [ $FAILED != 0 ]; then
    echo "check_package: FAILED" >&2
    exit 1
fi
echo "check_package: OK ($deb)"

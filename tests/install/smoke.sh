#!/usr/bin/env bash
# The Debian package as a user meets it. Installs build/package/skyjog_*.deb with apt (so its
# dependencies must be right), then, as an ordinary user who cannot write /usr/bin, runs the
# installed program under a virtual X server against the installed skyjog-mount-sim:
#   1. the first start finds no settings file, shows the window (with its icon and the desktop
#      entry's window class) and, on File > Exit, saves Skyjogger.ini in the user's
#      configuration folder and not beside the program;
#   2. with that file pointing at the simulated mount, an arrow key held down slews the mount
#      and letting go stops it;
# then removes the package again. Needs root (it installs a package and adds a user).
#
#   tests/install/smoke.sh [PACKAGE.deb]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
user=skyjog-smoke

# What a user's session would have: an X server, and X input and inspection tools to act as the
# user.
if [ "${1:-}" != --as-user ]; then
    SKYJOG_PACKAGES="xvfb xauth xdotool x11-utils"
    SKYJOG_CONFIGURE=no
    source "$root/scripts/setup.sh"
fi

fail() {
    echo "smoke test FAILED: $*"
    exit 1
}

# Bounded wait for a condition (a command), in tenths of a second.
wait_for() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

as_user() {
    cd "$HOME"
    local work
    work=$(mktemp -d)
    local ini=$HOME/.config/Skyjog/Skyjogger.ini

    start_skyjog() {
        skyjog >"$work/skyjog.out" 2>&1 &
        app=$!
        wait_for 300 xdotool search --onlyvisible --pid "$app" --name '^Skyjog$' >/dev/null ||
            fail "the window did not appear: $(cat "$work/skyjog.out")"
        window=$(xdotool search --onlyvisible --pid "$app" --name '^Skyjog$' | head -n1)
        xdotool windowfocus --sync "$window"
    }
    exit_skyjog() {
        xdotool key alt+f
        sleep 0.5
        xdotool key x
        for ((i = 0; i < 150; i++)); do
            kill -0 "$app" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$app" 2>/dev/null; then
            kill "$app"
            fail "File > Exit did not end the program"
        fi
        wait "$app" || fail "the program ended with status $?: $(cat "$work/skyjog.out")"
    }

    echo "-- first start, no settings file anywhere"
    [ ! -e "$ini" ] || fail "$ini exists before the first start"
    start_skyjog
    class=$(xprop -id "$window" WM_CLASS)
    echo "$class"
    [ "$class" = 'WM_CLASS(STRING) = "skyjog", "Skyjog"' ] ||
        fail "the window class is not the desktop entry's StartupWMClass"
    xprop -id "$window" _NET_WM_ICON >"$work/icon.txt"
    icons=$(grep -o 'Icon ([0-9]* x [0-9]*)' "$work/icon.txt" | paste -sd' ')
    echo "_NET_WM_ICON: $icons"
    grep -q 'Icon (16 x 16).*Icon (128 x 128)' <<<"$icons" ||
        fail "the window does not carry the application icon"
    exit_skyjog
    [ -f "$ini" ] || fail "no settings file in $ini"
    echo "saved: $ini: $(cat -A "$ini")"
    for f in /usr/bin/Skyjogger.ini "$(dirname "$(command -v skyjog)")/Skyjogger.ini"; do
        [ ! -e "$f" ] || fail "a settings file appeared beside the program: $f"
    done

    echo "-- second start, on skyjog-mount-sim, an arrow key held"
    skyjog-mount-sim --pty "$work/mount" --log-file "$work/sim.log" >"$work/sim.out" 2>&1 &
    sim=$!
    wait_for 150 grep -q ready "$work/sim.out" || fail "skyjog-mount-sim did not get ready"
    # The port is the fifth field of the line the program saved.
    sed -i "s|\"[^\"]*\"|\"$work/mount\"|" "$ini"
    start_skyjog
    xdotool keydown Up
    sleep 0.4
    xdotool keyup Up
    # The first start saved Alt/Az tracking and 128x: tracking off, the altitude motor's
    # variable-rate slew up; on release the altitude stop, then tracking back on.
    expected="84 0|80 3 17 7 30 0 0 0|80 2 17 37 0 0 0 0|84 1"
    commands() { sed -n 's/^ *[0-9]* *cmd *\([0-9 ]*[0-9]\).*/\1/p' "$work/sim.log" | paste -sd'|'; }
    received_all() { [ "$(commands)" = "$expected" ]; }
    wait_for 100 received_all ||
        fail "the mount received \"$(commands)\", not \"$expected\""
    sleep 0.5 # and nothing more
    received_all || fail "the mount received \"$(commands)\", not \"$expected\""
    echo "the mount received: $(commands)"
    exit_skyjog
    grep -q "\"$work/mount\"" "$ini" || fail "the settings file did not keep the port"
    kill "$sim"
    wait "$sim" || true
    rm -rf "$work"
    echo "-- passed"
}

if [ "${1:-}" = --as-user ]; then
    as_user
    exit 0
fi

[ "$(id -u)" -eq 0 ] || fail "run as root: it installs a package and adds a user"
deb=${1:-$(ls "$root"/build/package/skyjog_*.deb 2>/dev/null | head -n1)}
[ -f "$deb" ] || fail "no package; make it with scripts/package.sh"
deb=$(realpath "$deb")
# A package built where SDL2 was missing has no game controller, and says so only by lacking the
# dependency: dpkg-shlibdeps adds the SDL2 runtime exactly when the program links it.
depends=$(dpkg-deb --field "$deb" Depends)
grep -Eq '(^|, )libsdl2-2\.0-0( |,|$)' <<<"$depends" ||
    fail "the package does not depend on the SDL2 runtime (libsdl2-2.0-0): $depends"

echo "-- installing $(basename "$deb")"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
trap 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq skyjog >/dev/null || true' EXIT
[ "$(command -v skyjog)" = /usr/bin/skyjog ] || fail "skyjog is not /usr/bin/skyjog"
[ "$(command -v skyjog-mount-sim)" = /usr/bin/skyjog-mount-sim ] || fail "no skyjog-mount-sim"
dpkg -L skyjog | grep -q '^/usr/share/applications/.*\.desktop$' || fail "no desktop entry"

id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
rm -rf "$home/.config/Skyjog"
cp "${BASH_SOURCE[0]}" "$home/smoke.sh"
chmod 755 "$home/smoke.sh"
runuser -u "$user" -- env -i HOME="$home" USER="$user" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x768x24" bash "$home/smoke.sh" --as-user

#!/usr/bin/env bash
# Installs what is missing (Debian/Ubuntu), then configures and builds Skyjog in build/.
# Sourced by the other scripts. The caller may set:
#   SKYJOG_PACKAGES  Debian packages it needs beyond building and running Skyjog
#   BUILD_DIR        the build folder (default build/)
#   CMAKE_EXTRA      more options for configuring
#   BUILD_TARGETS    what to build (default: everything)
#   SKYJOG_CONFIGURE "if-needed": configure only a build folder that has not been configured
#                    (it reconfigures itself when a CMakeLists.txt changes); "no": install the
#                    packages only; default: always
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$root/build}

# What building and running Skyjog needs: the compiler and build tools, Qt (Svg only to render
# the icon while building), the X11 libraries the window uses directly, and SDL2 for game
# controllers (CMake treats it as optional, but every build these scripts make must have it:
# see SKYJOG_REQUIRE_SDL2 below).
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev qt6-svg-dev libgl-dev libxcb1-dev libxcb-xkb-dev
    libsdl2-dev
)
extra=()
for p in ${SKYJOG_PACKAGES:-}; do
    extra+=("$p")
done

missing=()
for p in "${packages[@]}" "${extra[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

case ${SKYJOG_CONFIGURE:-always} in
no) ;;
if-needed | always)
    if [ "${SKYJOG_CONFIGURE:-always}" = always ] || [ ! -f "$BUILD_DIR/build.ninja" ]; then
        # A build that silently lost the controller would pass its tests without testing it and
        # ship a package without it, so these scripts never allow one.
        cmake -S "$root" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DSKYJOG_REQUIRE_SDL2=ON ${CMAKE_EXTRA:-} >/dev/null
    fi
    cmake --build "$BUILD_DIR" -j "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
    ;;
esac

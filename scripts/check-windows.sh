#!/usr/bin/env bash
# The Windows build, checked on Linux: configures the project as a Windows build with Debian's
# MinGW-w64 cross compiler (cmake/windows-check/), so CMake picks exactly the sources, options
# and definitions a Windows build has, then compiles each of those sources in syntax-only mode
# against Qt's headers with _WIN32 defined, moc and rcc output included, and compiles the
# version resource with windres. Nothing is linked and nothing runs: see the README for what
# this does not catch.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The host build only lends its icon renderer: the version resource needs the .ico it packs.
SKYJOG_PACKAGES="g++-mingw-w64-x86-64-posix ${SKYJOG_PACKAGES:-}"
BUILD_TARGETS=skyjog-icon-render
source "$root/scripts/setup.sh"
render=$BUILD_DIR/dist/icon/skyjog-icon-render
qt6_dir=$(sed -n 's/^Qt6_DIR:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")

cross=${WINDOWS_CHECK_DIR:-$root/build-windows-check}
rm -rf "$cross"
mkdir -p "$cross"
cmake -S "$root" -B "$cross" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-check/toolchain.cmake" \
    -DQt6_DIR="$qt6_dir" -DSKYJOG_ICON_RENDER="$render" >"$cross/configure.log" 2>&1 || {
    cat "$cross/configure.log"
    exit 1
}

# Every C++ compilation and resource compilation of the Windows build (building the whole of it
# runs them all, moc, rcc and the icon rendering first; linking does nothing).
mapfile -t objects < <(ninja -C "$cross" -t targets all |
    sed -n 's/^\(.*\.\(obj\|res\)\): \(CXX\|RC\)_COMPILER__.*/\1/p' | sort)
if ((${#objects[@]} == 0)); then
    echo "No Windows compilations found"
    exit 1
fi
status=0
ninja -C "$cross" -k 0 -j "$(nproc)" >"$cross/check.log" 2>&1 || status=$?
if ((status != 0)); then
    grep -v '^\[' "$cross/check.log" || true
    echo "Windows check FAILED"
    exit 1
fi

cxx=$(printf '%s\n' "${objects[@]}" | grep -c '\.cpp\.obj$' || true)
generated=$(printf '%s\n' "${objects[@]}" | grep -c -E '(_autogen/|/\.rcc/|qrc_)' || true)
rc=$(printf '%s\n' "${objects[@]}" | grep -c '\.rc\.res$' || true)
echo "Windows check: $cxx C++ sources compiled for Windows ($generated of them moc or rcc output)" \
    "and $rc resource script(s), without errors"

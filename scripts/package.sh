#!/usr/bin/env bash
# The Debian package. Builds Skyjog in build/, installs it into a staging folder as the package
# will (prefix /usr) and validates the desktop entry and the AppStream metainfo there, then
# makes the package with CPack, its dependencies found by dpkg-shlibdeps, and shows what it
# holds. The package lands in build/package/; tests/install/smoke.sh installs and runs it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SKYJOG_PACKAGES="desktop-file-utils appstream dpkg-dev file ${SKYJOG_PACKAGES:-}"
source "$root/scripts/setup.sh"

stage=$BUILD_DIR/stage
rm -rf "$stage"
echo "== cmake --install (prefix /usr)"
DESTDIR=$stage cmake --install "$BUILD_DIR" --prefix /usr >/dev/null
(cd "$stage" && find . ! -type d -printf '%M %7s  /%P\n' | sort -k3)

echo "== desktop-file-validate"
desktop-file-validate "$stage"/usr/share/applications/*.desktop
echo "valid"
echo "== appstreamcli validate --no-net --strict --pedantic"
appstreamcli validate --no-net --strict --pedantic "$stage"/usr/share/metainfo/*.metainfo.xml

echo "== cpack -G DEB"
rm -rf "$BUILD_DIR/package"
(cd "$BUILD_DIR" && cpack -G DEB -B "$BUILD_DIR/package" >"$BUILD_DIR/package.log" 2>&1) || {
    cat "$BUILD_DIR/package.log"
    exit 1
}
deb=$(ls "$BUILD_DIR"/package/*.deb)
dpkg-deb --field "$deb"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

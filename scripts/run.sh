#!/usr/bin/env bash
# Starts Skyjog on the built-in simulated mount: installs what building and running need if it
# is missing, builds the program if it is not built or not current (a current build starts at
# once), and starts it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_TARGETS="skyjog skyjog-mount-sim"
SKYJOG_CONFIGURE=if-needed
source "$root/scripts/setup.sh"

# A first start gets a settings file naming the simulated mount as its port; an existing file
# (the user's own choices) is left alone.
ini="$BUILD_DIR/Skyjogger.ini"
if [ ! -e "$ini" ]; then
    printf '7,6,7,6,"sim",100,100,8,8,1,#FALSE#,3,0\r\n' >"$ini"
fi
exec "$BUILD_DIR/skyjog"

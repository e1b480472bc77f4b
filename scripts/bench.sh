#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks and runs them, printing their tables. Nothing is
# asserted; bench/README.md holds the figures and what they mean.
#
#   scripts/bench.sh                 all of them (about five and a half minutes)
#   scripts/bench.sh sendcommand     SendCommand round trips over a pseudo-terminal at 9600 baud
#   scripts/bench.sh pad             start-up, memory, key to line, processor time (under Xvfb)
#   scripts/bench.sh spiral          spiral leg timing over 20 legs, with the processor time and
#                                    wake-ups of the running spiral (under Xvfb; two runs of 55 s)
#   scripts/bench.sh gamepad         game controller press to line, processor time with and
#                                    without a controller (in-process, a virtual controller)
#   scripts/bench.sh position        a press behind the Position window's readings, the mount
#                                    answering them at once, garbage, short, late and never
#   scripts/bench.sh share           the mount shared by skyjog --share: a client's round trip
#                                    against SendCommand and the wire, key to line while two
#                                    clients poll, commands a second (under Xvfb)
#
# Run it on an otherwise idle machine: the figures are times of a few milliseconds.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_TARGETS=${BUILD_TARGETS:-"benchmarks skyjog skyjog-mount-sim"}
SKYJOG_PACKAGES="xvfb xauth xdotool x11-utils libx11-dev fonts-dejavu-core ${SKYJOG_PACKAGES:-}"
source "$root/scripts/setup.sh"

which=${1:-all}
echo "Machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r), Qt $(qtpaths6 --qt-version 2>/dev/null || echo '?'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo

if [ "$which" = all ] || [ "$which" = sendcommand ]; then
    "$BUILD_DIR/bench/bench_sendcommand" 300
    echo
fi
if [ "$which" = all ] || [ "$which" = pad ]; then
    "$BUILD_DIR/bench/bench_pad" 10 20 10000
    echo
fi
if [ "$which" = all ] || [ "$which" = spiral ]; then
    "$BUILD_DIR/bench/bench_spiral" 20
    echo
fi
if [ "$which" = all ] || [ "$which" = taps ]; then
    "$BUILD_DIR/bench/bench_taps" 40
    echo
fi
if { [ "$which" = all ] || [ "$which" = gamepad ]; } && [ -x "$BUILD_DIR/bench/bench_gamepad" ]; then
    "$BUILD_DIR/bench/bench_gamepad" 40 10000
    echo
fi
if [ "$which" = all ] || [ "$which" = position ]; then
    "$BUILD_DIR/bench/bench_position" 20
    echo
fi
if [ "$which" = all ] || [ "$which" = share ]; then
    "$BUILD_DIR/bench/bench_share" 300 20 3
    echo
fi
echo "Load average afterwards: $(cut -d' ' -f1-3 /proc/loadavg)"

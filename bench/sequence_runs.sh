#!/usr/bin/env bash
# End-to-end frame-sequence runs of the command line: N frames of a ball
# moving in depth (1920 x 1080, 16-bit PNG, from make-heightmaps) to
# numbered PNG frames, to one animated PNG and as a PNG stream into
# /dev/null, in frames per second, next to the floor of the same frames
# (decoding every input and deflating every output frame alone, on all
# cores), and the pixels that change from frame to frame with /Dots:Same
# and /Dots:New.
#
#   bench/sequence_runs.sh BUILD_DIR [--full]    (30 frames; --full: 300)
set -euo pipefail
BUILD=$(cd "$1" && pwd)
FRAMES=30
[ "${2:-}" = --full ] && FRAMES=300
WORK=$BUILD/sequence-bench-$FRAMES
RDSGEN=$BUILD/rdsgen

if [ ! -f "$WORK/ball16_$(printf %04d "$FRAMES").png" ]; then
    mkdir -p "$WORK"
    "$BUILD/make-heightmaps" -s 1920x1080 -f png16 --frames "$FRAMES" "$WORK" ball >/dev/null
fi
cd "$WORK"
rm -rf out new && mkdir -p out new

# Seconds of one run (wall clock), its texts discarded.
seconds() {
    local start end
    start=$(date +%s.%N)
    if ! "$@" >/dev/null 2>&1; then
        echo failed
        return
    fi
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}
report() {
    if [ "$2" = failed ]; then
        echo "$1: the run failed" >&2
        exit 1
    fi
    awk -v what="$1" -v s="$2" -v n="$FRAMES" 'BEGIN { printf "%-28s %6.2f s  %6.1f frames/s\n", what, s, n / s }'
}

echo "== $FRAMES frames of 1920 x 1080 16-bit PNG on $(nproc) cores"
report "to PNG frames" "$(seconds "$RDSGEN" ball16_%04d.png out/s%04d.png /Rand:1)"
report "to one animated PNG" "$(seconds "$RDSGEN" ball16_%04d.png anim.png /Rand:1)"
report "as a PNG stream" "$(seconds "$RDSGEN" ball16_%04d.png - /Rand:1)"  # standard output is /dev/null
"$BUILD/bench/sequence_floor" 68 ball16_*.png -- out/s*.png | sed -n 1p
echo "/Dots:Same:"
"$BUILD/bench/sequence_floor" 68 ball16_*.png -- out/s*.png | sed -n 2p
"$RDSGEN" ball16_%04d.png new/s%04d.png /Rand:1 /Dots:New >/dev/null 2>&1
echo "/Dots:New:"
"$BUILD/bench/sequence_floor" 68 ball16_*.png -- new/s*.png | sed -n 2p

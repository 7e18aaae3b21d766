#!/usr/bin/env bash
# Builds the libFuzzer harnesses with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a bounded time on a seed corpus
# made from the TARGA fixtures in tests/fixtures, a few small images made here,
# and PNG and JPEG files of every kind written by fuzz_make_seeds.
# A crash, a sanitizer report, a leak, a timeout or an out-of-memory fails.
#
#   fuzz/run-fuzzers.sh [build dir] [seconds per harness]
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
FIXTURES=${RDSGEN_FIXTURES_DIR:-tests/fixtures}
CC=${CC:-clang-14}
CXX=${CXX:-clang++-14}

CC=$CC CXX=$CXX cmake -S . -B "$BUILD" -DRDSGEN_FUZZ=ON -DRDSGEN_TESTS=OFF \
    -DRDSGEN_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j 2 --target fuzz_tga_reader fuzz_png_reader fuzz_jpeg_reader fuzz_run fuzz_options \
    fuzz_sequence fuzz_stream_splitter fuzz_make_seeds
# The harnesses work in their own temporary directory: absolute paths only.
BUILD=$(cd "$BUILD" && pwd)

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Writes a TARGA file: type, width, height, pixel depth, descriptor, then the
# bytes after the header as a printf format.
tga() {
    local file=$1 type=$2 width=$3 height=$4 depth=$5 descriptor=$6 body=$7 map=${8:-0}
    local mapLength=${9:-0}
    printf "$(printf '\\x00\\x%02x\\x%02x\\x00\\x00\\x%02x\\x00\\x%02x\\x00\\x00\\x00\\x00\\x%02x\\x00\\x%02x\\x00\\x%02x\\x%02x' \
        "$map" "$type" "${mapLength:-0}" "$([ "$map" = 0 ] && echo 0 || echo 24)" \
        "$width" "$height" "$depth" "$descriptor")$body" >"$file"
}

# Small hand-made images of each accepted kind.
SMALL=$WORK/small
mkdir -p "$SMALL"
tga "$SMALL/grey-4x3.tga" 3 4 3 8 32 '\x00\x40\x80\xff\x10\x20\x30\x40\xff\xff\x00\x00'
tga "$SMALL/grey16-2x2.tga" 3 2 2 16 0 '\x00\x01\xff\xff\x34\x12\x00\x80'
tga "$SMALL/colour-2x2.tga" 2 2 2 24 32 '\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c'
tga "$SMALL/mapped-3x1.tga" 1 3 1 8 0 '\x00\x00\x00\xff\xff\xff\x00\x01\x05' 1 2
tga "$SMALL/one-pixel.tga" 3 1 1 8 32 '\xc8'

# Corpus of the reader: every fixture and the small images.
mkdir -p "$WORK/tga_reader"
cp "$FIXTURES"/*.tga "$SMALL"/*.tga "$WORK/tga_reader/"

# Corpora of the PNG and JPEG readers, with dictionaries of their chunk names
# and markers.
mkdir -p "$WORK/seeds"
"$BUILD/fuzz_make_seeds" "$WORK/seeds" >/dev/null
mkdir -p "$WORK/png_reader" "$WORK/jpeg_reader"
cp "$WORK/seeds"/*.png "$WORK/png_reader/"
cp "$WORK/seeds"/*.jpg "$WORK/jpeg_reader/"
cat >"$WORK/png_reader.dict" <<'EOF'
"\x89PNG\x0d\x0a\x1a\x0a"
"IHDR"
"PLTE"
"IDAT"
"IEND"
"tRNS"
"gAMA"
"iCCP"
"sRGB"
EOF
cat >"$WORK/jpeg_reader.dict" <<'EOF'
"\xff\xd8\xff"
"\xff\xc0"
"\xff\xc2"
"\xff\xc4"
"\xff\xc9"
"\xff\xcc"
"\xff\xda"
"\xff\xdb"
"\xff\xdd"
"\xff\xd9"
"Adobe"
EOF

# Corpus of the whole run: the small fixtures and images, and the small PNG
# and JPEG seeds, each behind every option-line byte (the harness has six lines).
mkdir -p "$WORK/run"
for image in "$SMALL"/*.tga $(find "$FIXTURES" -name '*.tga' -size -5k) \
    $(find "$WORK/seeds" -size -2k -name '*.png' | head -n 12) $(find "$WORK/seeds" -size -2k -name '*.jpg' | head -n 6); do
    for line in 0 1 2 3 4 5; do
        { printf "\\x0$line"; cat "$image"; } >"$WORK/run/$line-$(basename "$image")"
    done
done

# Corpus of the command line: one argument per line.
mkdir -p "$WORK/options"
printf '/PatT:3\n/PSiz:S4\n/Stret:XYRPZQ\n/NoRD\n-vinc\n/Double' >"$WORK/options/1"
printf '/PSiz:P20\n/PUse:-50\n/PPos:7\n/Dens:1000\n/FocP:-1\n/TopF:999999999\n/BotB:-1' >"$WORK/options/2"
printf '!PATT\n/Rand:-1\n/Stret:\n/CutOff\n/Hidden\n/Inv\n/TrueOut\n/h' >"$WORK/options/3"
printf '/PatT:pattern\n/Stret:A\n/PSiz:S0\nextra' >"$WORK/options/4"

# Corpus of the frame sequences: settings, width, height, frames, flags, then
# heights (each settings line, both formats).
mkdir -p "$WORK/sequence"
for line in 0 1 2 3 4; do
    printf "\\x0$line\\x20\\x10\\x03\\x0a\\x00\\x40\\x80\\xc0\\xff" >"$WORK/sequence/apng-$line"
    printf "\\x0$line\\x18\\x08\\x02\\x07\\x10\\x10\\xf0\\xf0" >"$WORK/sequence/gif-$line"
done

# Corpus of the stream splitter: a piece-size byte, then small images one
# after another.
mkdir -p "$WORK/stream_splitter"
{ printf '\x07'; cat "$SMALL"/grey-4x3.tga $(find "$WORK/seeds" -size -2k -name '*.png' | head -n 2) "$SMALL"/one-pixel.tga; } \
    >"$WORK/stream_splitter/mixed"
{ printf '\x00'; cat $(find "$WORK/seeds" -size -2k -name '*.jpg' | head -n 2); } >"$WORK/stream_splitter/jpegs"
cat "$WORK/png_reader.dict" "$WORK/jpeg_reader.dict" >"$WORK/stream_splitter.dict"
echo '"TRUEVISION-XFILE.\x00"' >>"$WORK/stream_splitter.dict"

status=0
for harness in tga_reader png_reader jpeg_reader run options sequence stream_splitter; do
    echo "== fuzzing $harness for $SECONDS_EACH seconds"
    max_len=65536
    [ "$harness" = run ] && max_len=16384
    [ "$harness" = options ] && max_len=1024
    [ "$harness" = sequence ] && max_len=4096
    dict=()
    [ -f "$WORK/$harness.dict" ] && dict=(-dict="$WORK/$harness.dict")
    mkdir -p "$WORK/found-$harness"
    rc=0
    TMPDIR=$WORK "$BUILD/fuzz_$harness" "$WORK/found-$harness" "$WORK/$harness" "${dict[@]}" \
        -max_total_time="$SECONDS_EACH" -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$BUILD/$harness-" \
        >"$WORK/$harness.log" 2>&1 || rc=$?
    if [ "$rc" -eq 0 ]; then
        grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|Done|stat::)' "$WORK/$harness.log" || true
    else
        tail -n 100 "$WORK/$harness.log"
        echo "FAILED: fuzz_$harness stopped with status $rc; the input is in $BUILD/$harness-*"
        status=1
    fi
done
exit $status

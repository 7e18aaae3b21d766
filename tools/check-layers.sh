#!/usr/bin/env bash
# Checks that every #include between the folders of src/ points down the
# layers, never up or sideways, so that no subsystem calls back into one
# that uses it:
#
#   cli      the command line: files, messages, the exit status
#   engine   files   sequence
#            plan() and render(), the library's entry points | input files
#            read, output files written | frame sequences over render()
#            (side by side)
#   stereo   the calculation loop and the work on one row
#   depth    pattern      height scaling; pattern sources (side by side)
#   image    images in memory, their codecs, output writers
#   run      the run's records (RunSettings, RowGeometry)
#   rdsgen   the public header
#
# Prints each include that breaks the order and exits 1; prints nothing and
# exits 0 when there is none.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
    case $1 in
        rdsgen) echo 0 ;; run) echo 1 ;; image) echo 2 ;; depth | pattern) echo 3 ;;
        stereo) echo 4 ;; engine | files | sequence) echo 5 ;; cli) echo 6 ;; *) echo -1 ;;
    esac
}

broken=0
for file in src/*/*.h src/*/*.cpp; do
    folder=$(basename "$(dirname "$file")")
    own=$(rank "$folder")
    if [ "$own" -lt 0 ]; then
        echo "$file: folder '$folder' has no place in the layers (tools/check-layers.sh)"
        broken=1
        continue
    fi
    while IFS= read -r included; do
        [ "$included" = "$folder" ] && continue
        other=$(rank "$included")
        if [ "$other" -lt 0 ] || [ "$other" -ge "$own" ]; then
            echo "$file includes $included/: not below $folder/"
            broken=1
        fi
    done < <(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file" | sort -u)
done
exit $broken

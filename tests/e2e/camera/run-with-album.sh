#!/bin/sh
# Runs the application headless on a script with settings that keep filter slot SLOT and a
# photo album of its own, then checks that exactly PHOTOS photos landed in the album.
#   run-with-album.sh QUORBIT SCRIPT SLOT PHOTOS
set -u
quorbit=$1 script=$2 slot=$3 photos=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/quorbit-e2e-XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/config" "$work/album"
printf '{"LastFilterUsed": %s}\n' "$slot" > "$work/config/defaults.json"
QUORBIT_CONFIG_DIR="$work/config" QUORBIT_PICTURES_DIR="$work/album" \
    "$quorbit" --headless --script "$script"
status=$?
if [ $status -ne 0 ]; then
    echo "the script failed with status $status" >&2
    exit 1
fi
found=$(find "$work/album" -maxdepth 1 -name '*.jpg' | wc -l)
if [ "$found" -ne "$photos" ]; then
    echo "expected $photos photo(s) in the album, found $found" >&2
    ls -la "$work/album" >&2
    exit 1
fi
echo "$found photo(s) in the album"

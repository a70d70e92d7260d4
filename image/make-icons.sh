#!/bin/sh
# Renders the SVG sources into the multi-size .ico files compiled into the program. Run after editing an SVG;
# the .ico results are committed, so building does not need these tools.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for name in shield settings about log; do
    for size in 16 24 32 48 64; do
        rsvg-convert -w "$size" -h "$size" -o "$tmp/$name-$size.png" "$name.svg"
    done
    convert "$tmp/$name-16.png" "$tmp/$name-24.png" "$tmp/$name-32.png" "$tmp/$name-48.png" "$tmp/$name-64.png" \
        "$name.ico"
done

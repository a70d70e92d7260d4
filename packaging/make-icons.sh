#!/bin/sh
# make-icons.sh CONVERT IDENTIFY ICO OUTDIR SIZE...
# Writes OUTDIR/<size>x<size>/apps/vigilex.png for each size, from the largest picture inside ICO.
set -eu
convert=$1 identify=$2 ico=$3 out=$4
shift 4
# An .ico may hold several pictures: one drawn at the very size is used as it is, otherwise the largest,
# which scales best.
frames=$("$identify" -format '%p %w\n' "$ico")
best=$(echo "$frames" | sort -k2,2n | tail -n 1 | cut -d' ' -f1)
[ -n "$best" ] || { echo "make-icons: no picture in $ico" >&2; exit 1; }
for size in "$@"; do
    dir="$out/${size}x${size}/apps"
    mkdir -p "$dir"
    exact=$(echo "$frames" | awk -v s="$size" '$2 == s { print $1; exit }')
    "$convert" "$ico[${exact:-$best}]" -background none -filter Lanczos -resize "${size}x${size}" \
        -gravity center -extent "${size}x${size}" "PNG32:$dir/vigilex.png"
done

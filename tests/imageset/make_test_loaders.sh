#!/bin/sh
# Stand-in IDB loaders for the embedding test into $1: rk3328 (odd length),
# rk3588 (every byte value), rk3528 (exactly the 512 KiB limit); other SoCs
# absent. Files are replaced only when their bytes change, so that
# re-configuring does not rebuild the test library.
set -eu
out=$1
mkdir -p "$out"
a="$out/.a"
b="$out/.b"
i=0
# shellcheck disable=SC2059
while [ $i -lt 256 ]; do printf "\\$(printf %o $i)"; i=$((i + 1)); done > "$a"
# Doubling with a counter between the copies: 13 rounds give over 1 MiB.
n=0
while [ $n -lt 13 ]; do
    { cat "$a"; printf 'round %d\n' "$n"; cat "$a"; } > "$b"
    mv "$b" "$a"
    n=$((n + 1))
done
head -c 4099 "$a" > "$out/rk3328_idbloader.img.new"
tail -c +1001 "$a" | head -c 200003 > "$out/rk3588_idbloader.img.new"
tail -c +77 "$a" | head -c 524288 > "$out/rk3528_idbloader.img.new"
for f in rk3328 rk3588 rk3528; do
    cmp -s "$out/${f}_idbloader.img.new" "$out/${f}_idbloader.img" 2>/dev/null || mv "$out/${f}_idbloader.img.new" "$out/${f}_idbloader.img"
    rm -f "$out/${f}_idbloader.img.new"
done
rm -f "$a"

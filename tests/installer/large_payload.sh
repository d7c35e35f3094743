#!/bin/bash
# A payload of more than 2 GiB, and a file of more than 8 GiB: every offset
# and count must be 64 bits wide, and the size a pax header's.
. "$(dirname "$0")/lib.sh"

# A gzip comment of 2 GiB and a megabyte pads the sample's member to that
# size while it still unpacks to the same archive.
comment=$(((1 << 31) + (1 << 20)))
needed=$((comment + (512 << 20)))
available=$(df --output=avail -B1 "$scratch" | tail -n 1)
if [ "$available" -lt "$needed" ]; then
    echo "SKIPPED: $((needed >> 20)) MiB needed in $scratch, $((available >> 20)) MiB free" >&2
    exit 77
fi

begin "installs a payload of more than 2 GiB"
unsealed_payload "$sample" >"$work/payload.gz"  # padding breaks a seal
length=$(($(stat -c %s "$work/payload.gz") + comment + 1))
{
    cat "$INSTALLER_IMAGE"
    padded_member 16 "$comment" c "$work/payload.gz"
    printf '\n%s\n' "$length"
} >"$work/big.run"
chmod 0755 "$work/big.run"
run "$work/big.run" -s "$work/dest"
rm -f "$work/big.run"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "packs and installs a sparse file of more than 8 GiB, sparse"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
truncate -s 8G "$work/tree/huge"
echo end >>"$work/tree/huge"
package "$work/tree" "$work/huge.run"
run "$work/huge.run" -s "$work/dest"
rm -f "$work/huge.run"
expect_status 0
[ "$(stat -c %s "$work/dest/huge")" = $(((8 << 30) + 4)) ] && [ "$(tail -c 4 "$work/dest/huge")" = end ] ||
    fail "installed as $(stat -c %s "$work/dest/huge") bytes ending in $(tail -c 4 "$work/dest/huge" | od -An -c)"
[ "$(stat -c %b "$work/dest/huge")" -le 64 ] || fail "its holes were written"

finish

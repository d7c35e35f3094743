#!/bin/bash
# A file system too small for the product is refused before anything is
# written in it, and a destination made for the installation goes again;
# one with a tenth more room than the product takes is never refused.
# Needs root to mount file systems of a chosen size.
. "$(dirname "$0")/lib.sh"
require_root mount

product=$scratch/product
cp -a "$SAMPLE_PRODUCT" "$product"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$product/clips/noise.ovl"
mkdir "$product/many"
for i in $(seq 40); do printf '%s\n' "$i" >"$product/many/$i"; done
package "$product" "$scratch/product.run"

# small_fs OPTIONS [DIR]: a tmpfs at DIR, $work/fs by default.
small_fs() {
    local dir=${2:-$work/fs}
    mkdir "$dir"
    mount -t tmpfs -o "$1" tmpfs "$dir" || { fail "could not mount a tmpfs ($1)"; return 1; }
    mounts+=("$dir")
}

expect_refused() {
    expect_failed_run
    [[ $(cat "$scratch/err") =~ ^"There is not enough free space in $1: "$2" needed, "$2" available.${3:-}"$ ]] ||
        fail "stderr $(shown "$(cat "$scratch/err")")"
    cat "$scratch/err"
}

begin "refuses too few bytes and removes the destination it made, named fully or not"
small_fs size=1m
run "$scratch/product.run" -s "$work/fs/dest"
expect_refused "$work/fs/dest" '[0-9]+\.[0-9] MB'
expect_absent "$work/fs/dest"
run_in "$work/fs" "$scratch/product.run" -s dest
expect_refused dest '[0-9]+\.[0-9] MB'
expect_absent "$work/fs/dest"

begin "refuses too few entries and leaves an existing destination as it was"
small_fs size=64m,nr_inodes=20
mkdir -m 0750 "$work/fs/dest"
run "$scratch/product.run" -s "$work/fs/dest"
expect_refused "$work/fs/dest" '[0-9]+ files'
expect_empty_dir "$work/fs/dest"
echo mine >"$work/fs/dest/mine"
run "$scratch/product.run" -s "$work/fs/dest"
expect_refused "$work/fs/dest" '[0-9]+ files' $'\nWhat it holds stays until the new version is complete,\nso there must be room for both while installing.'
[ "$(entries "$work/fs/dest")" = mine ] || fail "the destination was changed"
rm "$work/fs/dest/mine"
[ "$(stat -c %a "$work/fs/dest")" = 750 ] || fail "the destination was changed"

begin "counts each small file as the fragment it takes, before writing anything"
# 2,000 one-byte files: a few KiB of content, 8 MiB of 4 KiB fragments.
tiny=$scratch/tiny
mkdir -p "$tiny/files"
cp "$SAMPLE_PRODUCT/ovelo" "$tiny/ovelo"
(cd "$tiny/files" && for i in $(seq 2000); do printf x >"$i"; done)
package "$tiny" "$scratch/tiny.run"
small_fs size=2m
run "$scratch/tiny.run" -s "$work/fs/dest"
expect_refused "$work/fs/dest" '[0-9]+\.[0-9] MB'
expect_absent "$work/fs/dest"

begin "installs where a tenth more room is free than the product takes"
small_fs size=64m "$work/measure"
run "$scratch/product.run" -s "$work/measure/dest"
expect_status 0
used=$(df --output=used -B1 "$work/measure" | tail -n 1)
inodes=$(df --output=iused "$work/measure" | tail -n 1)
small_fs "size=$((used * 11 / 10)),nr_inodes=$((inodes * 11 / 10 + 1))"
run "$scratch/product.run" -s "$work/fs/dest"
expect_status 0
expect_err ""
diff -r -x .ovelo8-manifest "$product" "$work/fs/dest" >/dev/null || fail "contents differ"

finish

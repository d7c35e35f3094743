#!/bin/bash
# The destination's file system filling up in the middle of the unpacking:
# a failed installation, after tar's own diagnostics.  Only root can mount
# the small file system it needs.
. "$(dirname "$0")/lib.sh"
require_root mount

big=$scratch/big.run
big_unsealed_installer "$big"

expect_unpack_failure() {
    expect_failed_run
    expect_err_ends "$unpack_failed"
    grep -q '^tar: ' "$scratch/err" || fail "tar's own diagnostics are missing"
}

begin "fails when the destination's file system fills up"
mkdir "$work/fs"
if mount -t tmpfs -o size=64k tmpfs "$work/fs" 2>/dev/null; then
    echo "running on a tmpfs of 64 KiB"
    mounts+=("$work/fs")
    run "$big" -s "$work/fs/dest"
else
    # No tmpfs here: a read-only bind mount inside a writable destination
    # makes tar fail on the members below it.
    echo "no tmpfs could be mounted: running on a read-only bind mount"
    mkdir -p "$work/fs/dest/clips" "$work/ro"
    mount --bind "$work/ro" "$work/fs/dest/clips" &&
        mount -o remount,bind,ro "$work/fs/dest/clips" || fail "no bind mount either"
    mounts+=("$work/fs/dest/clips")
    run "$big" -s "$work/fs/dest"
fi
expect_unpack_failure

finish

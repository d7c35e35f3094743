#!/bin/bash
# The destination's file system filling up in the middle of the unpacking:
# a failed installation that says which file could not be written, and
# leaves nothing behind; and the packager's output file system filling up.
# Only root can mount the small file systems they need.
. "$(dirname "$0")/lib.sh"
require_root mount

big=$scratch/big.run
big_unsealed_installer "$big"

expect_unpack_failure() {
    expect_failed_run
    expect_err_ends "$unpack_failed"
    grep -q '^Can not write .*: No space left on device$' "$scratch/err" ||
        fail "the file that could not be written is not named"
}

begin "fails when the destination's file system fills up"
mkdir "$work/fs"
if mount -t tmpfs -o size=1m tmpfs "$work/fs" 2>/dev/null; then
    echo "running on a tmpfs of 1 MiB"
    mounts+=("$work/fs")
    run "$big" -s "$work/fs/dest"
    expect_unpack_failure
    [ -z "$(ls -A "$work/fs")" ] || fail "left behind: $(ls -A "$work/fs")"
    # An earlier installation stays as it was.
    run "$sample" -s "$work/fs/dest"
    expect_status 0
    before=$(tree_listing "$work/fs/dest")
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
[ -z "${before-}" ] || [ "$(tree_listing "$work/fs/dest")" = "$before" ] ||
    fail "the earlier installation was changed"

begin "mkinstaller says so when its output's file system fills up, leaving nothing behind"
mkdir "$work/fs"
if mount -t tmpfs -o size=2m tmpfs "$work/fs" 2>/dev/null; then
    mounts+=("$work/fs")
    "$MKINSTALLER" "$INSTALLER_IMAGE" "$scratch/big-product" "$work/fs/out.run" 2>"$work/err" &&
        fail "packaged into a full file system"
    [ "$(cat "$work/err")" = "mkinstaller: no space left on the file system of $work/fs/out.run; nothing written" ] ||
        fail "said: $(cat "$work/err")"
    [ -z "$(ls -A "$work/fs")" ] || fail "left behind: $(ls -A "$work/fs")"
else
    echo "SKIPPED: no tmpfs could be mounted" >&2
fi

finish

#!/bin/bash
# An installation stopped part way, by a signal, a write error or SIGKILL,
# changes nothing: a new destination does not appear, an earlier
# installation and the files the user added to it stay exactly as they
# were (the same inodes, modes, sizes, times and contents).  The faults
# come on cue from a library preloaded into the installer.
. "$(dirname "$0")/lib.sh"

big=$scratch/big.run
big_sealed_installer "$big"
total=$(find "$scratch/big-product" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')

# All that tells two trees apart; folders without their size, which is the
# file system's business.
snapshot() {
    (cd "$1" && find . \( -type d -printf '%p d %m %T@\n' \) -o \
        \( -type l -printf '%p l %l %T@\n' \) -o -printf '%p %y %m %s %T@ %i\n' | LC_ALL=C sort &&
        find . -type f -exec cksum {} + | LC_ALL=C sort)
}

# earlier DIR: the sample installed into DIR, files of the user's added,
# and its snapshot in $work/before.
earlier() {
    rm -rf "$1"
    run "$sample" -s "$1"
    expect_status 0
    printf 'mine\n' >"$1/notes.txt"
    printf 'mine\n' >"$1/clips/mine.ovl"
    touch -d '2020-01-02 03:04:05' "$1/clips" "$1"
    snapshot "$1" >"$work/before"
}

expect_as_before() {
    snapshot "$1" | diff "$work/before" - >&2 || fail "$1 changed (differences above)"
}

# with_fault FAULT COMMAND...: run, the installer's writes going wrong as
# FAULT says (see tests/support/write_fault.c).
with_fault() {
    local fault=$1
    shift
    run env LD_PRELOAD="$WRITE_FAULT" OVELO8_WRITE_FAULT="$fault" "$@"
}

expect_no_hidden_folder() {
    local left
    left=$(find "$1" -maxdepth 2 -name '.ovelo8-*' ! -name .ovelo8-manifest)
    [ -z "$left" ] || fail "left behind: $left"
}

begin "a signal at 10, 50 or 99% of the product leaves no new destination"
for signal in INT:130 TERM:143 HUP:129; do
    for percent in 10 50 99; do
        with_fault "signal:$((total * percent / 100)):$(kill -l "${signal%:*}")" \
            "$big" -s "$work/dest"
        [ "$status" -eq "${signal#*:}" ] || fail "SIG${signal%:*} at $percent%: status $status"
        expect_err "Interrupted: $work/dest was left as it was."$'\n'
        expect_absent "$work/dest"
        expect_no_hidden_folder "$work"
    done
done

begin "a signal that whoever started it ignores stops nothing"
with_fault "signal:$((total / 2)):$(kill -l INT)" sh -c 'trap "" INT; exec "$0" "$@"' \
    "$big" -s "$work/dest"
expect_status 0
[ -x "$work/dest/ovelo" ] || fail "not installed"
expect_no_hidden_folder "$work"

begin "a signal at 10, 50 or 99% puts an earlier installation back exactly"
for signal in INT:130 TERM:143; do
    for percent in 10 50 99; do
        earlier "$work/dest"
        with_fault "signal:$((total * percent / 100)):$(kill -l "${signal%:*}")" \
            "$big" -s "$work/dest"
        [ "$status" -eq "${signal#*:}" ] || fail "SIG${signal%:*} at $percent%: status $status"
        expect_as_before "$work/dest"
    done
done

begin "a signal once all is written, before anything is put in place, changes nothing"
for dest in new dest; do
    [ "$dest" = new ] || earlier "$work/dest"
    with_fault "signal:$total:15" "$big" -s "$work/$dest"
    [ "$status" -eq 143 ] || fail "$dest: status $status"
    if [ "$dest" = new ]; then expect_absent "$work/new"; else expect_as_before "$work/dest"; fi
done
expect_no_hidden_folder "$work"

begin "a signal while the entries are put in place: the installation completes, then ends"
for dest in new dest; do
    [ "$dest" = new ] || earlier "$work/dest"
    with_fault "rename:1:15" "$big" -s "$work/$dest"
    [ "$status" -eq 143 ] || fail "$dest: status $status"
    expect_err "Interrupted: $work/$dest was installed, nothing more was done."$'\n'
    cmp -s "$scratch/big-product/clips/noise.ovl" "$work/$dest/clips/noise.ovl" ||
        fail "$dest was not installed"
done
expect_no_hidden_folder "$work"
rm -rf "$work/new"

begin "a write-back error found by the durability step is a failed installation"
with_fault syncfs:fail "$big" -s "$work/new"
expect_failed_run
expect_err_ends "$unpack_failed"
expect_absent "$work/new"
earlier "$work/dest"
with_fault syncfs:fail "$big" -s "$work/dest"
expect_failed_run
expect_as_before "$work/dest"

begin "a write-back error once the entries are in puts back their folders' modes too"
earlier "$work/dest"
chmod 0700 "$work/dest/clips"
mkdir -m 0700 "$work/dest/skins"  # the new version lists it, and ships nothing into it
snapshot "$work/dest" >"$work/before"
with_fault syncfs:fail:2 "$big" -s "$work/dest"
expect_failed_run
expect_as_before "$work/dest"

begin "a mode or a time that can not be set is a failed installation"
for call in fchmod futimens; do
    with_fault "$call:fail" "$sample" -s "$work/new"
    expect_failed_run
    grep -q '^Can not write .*: Operation not permitted$' "$scratch/err" ||
        fail "$call: the first file is not named: $(cat "$scratch/err")"
    expect_err_ends "$unpack_failed"
    expect_absent "$work/new"
done

begin "a write error half way is a failed installation that changed nothing"
with_fault "fail:$((total / 2))" "$big" -s "$work/new"
expect_failed_run
expect_err_ends "$unpack_failed"
expect_absent "$work/new"
earlier "$work/dest"
with_fault "fail:$((total / 2))" "$big" -s "$work/dest"
expect_failed_run
expect_err_ends "$unpack_failed"
expect_as_before "$work/dest"

begin "memory or threads running short is a failed installation that leaves nothing"
# Limits from too little to decompress to enough: each run installs, or is
# refused for want of memory, never aborts with its hidden folder left.
short=0
for limit in $(seq 20 4 60); do
    rm -rf "$work/dest"
    run sh -c 'ulimit -v "$1" && exec "$2" -s "$3"' sh $((limit * 1024)) "$big" "$work/dest"
    if [ "$status" -eq 0 ]; then
        expect_same_tree "$scratch/big-product" "$work/dest"
    else
        expect_failed_run
        expect_damaged "$big" "its compressed archive can not be read (out of memory)"
        expect_absent "$work/dest"
        short=$((short + 1))
    fi
    expect_no_hidden_folder "$work"
done
[ "$short" -gt 0 ] || fail "no limit made the installer run short"

begin "an installation under way is never taken for a killed one's leftovers"
for dest in new earlier; do
    [ "$dest" = new ] || earlier "$work/$dest"
    HOME=$work/.home LD_PRELOAD=$WRITE_FAULT OVELO8_WRITE_FAULT=pause:30000 \
        "$big" -s "$work/$dest" 2>"$work/first.err" &
    first=$!
    for _ in $(seq 100); do
        [ -z "$(find "$work" -maxdepth 2 -name '.ovelo8-*' ! -name .ovelo8-manifest)" ] || break
        sleep 0.05
    done
    run "$big" -s "$work/$dest"
    expect_failed_run
    expect_err "Another installation into $work/$dest is under way."$'\n'
    wait "$first" || fail "the first installation into $dest failed: $(cat "$work/first.err")"
    cmp -s "$scratch/big-product/clips/noise.ovl" "$work/$dest/clips/noise.ovl" ||
        fail "$dest was not installed"
done
rm -rf "$work/new" "$work/earlier"

expect_old_kept() {
    [ -n "$(ls -A "$work/dest/.ovelo8-work/old")" ] || fail "the replaced files are gone"
}

begin "earlier files that can not be put back are kept, and the folder holding them named"
earlier "$work/dest"
with_fault renamefail:3 "$big" -s "$work/dest"
expect_status 1
expect_err_ends "Not everything in $work/dest could be put back as it was; the earlier files \
that could not are kept in $work/dest/.ovelo8-work/old."$'\n'
expect_old_kept

begin "after SIGKILL while files were replaced, the next run keeps what they replaced"
earlier "$work/dest"
with_fault rename:3:9 "$big" -s "$work/dest"
run "$big" -s "$work/dest"
expect_failed_run
expect_err "An installation into $work/dest was stopped while it replaced files; the earlier \
files it replaced are kept in $work/dest/.ovelo8-work/old.  Put them back or remove \
$work/dest/.ovelo8-work, then install again."$'\n'
expect_old_kept
rm -rf "$work/dest"

begin "SIGKILL half way leaves only hidden folders, which the next run removes first"
with_fault "signal:$((total / 2)):9" "$big" -s "$work/new"
expect_absent "$work/new"
[ -d "$work/.ovelo8-new" ] || fail "no hidden folder beside the new destination"
earlier "$work/dest"
with_fault "signal:$((total / 2)):9" "$big" -s "$work/dest"
[ -d "$work/dest/.ovelo8-work" ] || fail "no hidden folder in the destination"
snapshot "$work/dest" | grep -v -e '^\. ' -e '\./\.ovelo8-work' | diff <(grep -v '^\. ' "$work/before") - >&2 ||
    fail "more than the hidden folder changed (differences above)"
for dest in new dest; do
    run "$big" -s "$work/$dest"
    expect_status 0
    expect_err ""
    [ "$(cat "$work/$dest/clips/noise.ovl" | cksum)" = "$(cksum <"$scratch/big-product/clips/noise.ovl")" ] ||
        fail "$dest was not installed"
done
expect_no_hidden_folder "$work"

finish

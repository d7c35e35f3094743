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
# Over the sample, the big product writes its noise alone: the rest is
# the same, and left in place.
noise=$(stat -c %s "$scratch/big-product/clips/noise.ovl")
# A version in which every file changes, so that every entry moves.
changed=$scratch/changed.run
cp -a "$scratch/big-product" "$scratch/changed"
find "$scratch/changed" -type f ! -name noise.ovl -exec sh -c 'printf "changed\n" >>"$1"' sh {} \;
package "$scratch/changed" "$changed"

# All that tells two trees apart; folders without their size, which is the
# file system's business.
snapshot() {
    (cd "$1" && find . \( -type d -printf '%p d %m %T@\n' \) -o \
        \( -type l -printf '%p l %l %T@\n' \) -o -printf '%p %y %m %s %T@ %i\n' | LC_ALL=C sort &&
        find . -type f -exec cksum {} + | LC_ALL=C sort)
}

# add_mine DIR: the files a user adds to an installation.
add_mine() { printf 'mine\n' | tee "$1/notes.txt" >"$1/clips/mine.ovl"; }

# earlier DIR: the sample installed into DIR, files of the user's added,
# and its snapshot in $work/before.
earlier() {
    rm -rf "$1"
    run "$sample" -s "$1"
    expect_status 0
    add_mine "$1"
    touch -d '2020-01-02 03:04:05' "$1/clips" "$1"
    snapshot "$1" >"$work/before"
}

expect_as_before() {
    snapshot "$1" | diff "$work/before" - >&2 || fail "$1 changed (differences above)"
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
    with_fault "signal:$([ "$dest" = new ] && echo "$total" || echo "$noise"):15" "$big" -s "$work/$dest"
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

begin "memory, threads or descriptors running short: installed, or said so, nothing left"
# Limits from too little to enough, into a new destination and over an
# earlier installation: each run installs, or says what ran short (never
# damage or a permission), and never leaves its hidden folders.
while read -r limit first step last message; do
    short=0
    for value in $(seq "$first" "$step" "$last"); do
        for dest in new dest; do
            if [ "$dest" = new ]; then rm -rf "$work/new"; else earlier "$work/dest"; fi
            # Only the standard descriptors are passed on: those the test's
            # shells hold would take places under the limit.
            run bash -c 'for fd in /proc/$$/fd/*; do
                    fd=${fd##*/}; [ "$fd" -le 2 ] || eval "exec $fd>&-"; done
                ulimit "$1" "$2" && exec "$3" -s "$4"' bash "$limit" "$value" "$big" "$work/$dest"
            if [ "$status" -eq 0 ]; then
                cmp -s "$scratch/big-product/clips/noise.ovl" "$work/$dest/clips/noise.ovl" ||
                    fail "$dest was not installed (ulimit $limit $value)"
                continue
            fi
            expect_failed_run
            expect_err "$message"$'\n'
            if [ "$dest" = new ]; then expect_absent "$work/new"; else expect_as_before "$work/dest"; fi
            short=$((short + 1))
        done
        expect_no_hidden_folder "$work"
    done
    [ "$short" -gt 0 ] || fail "no limit made the installer run short (ulimit $limit)"
done <<'LIMITS'
-v 12288 8192 61440 There is not enough memory to go on.
-n 4 1 14 There are too many open files to go on.
LIMITS

begin "an uninstall short of descriptors never takes what it could not read for a change"
for value in $(seq 4 12); do
    earlier "$work/dest"
    run bash -c 'for fd in /proc/$$/fd/*; do
            fd=${fd##*/}; [ "$fd" -le 2 ] || eval "exec $fd>&-"; done
        ulimit -n "$1" && exec "$2" --uninstall "$3"' bash "$value" "$sample" "$work/dest"
    ! grep -q 'changed since it was installed' "$scratch/err" ||
        fail "ulimit -n $value: an unchanged file was called changed: $(cat "$scratch/err")"
    [ "$status" -eq 0 ] || grep -qi 'too many open files' "$scratch/err" ||
        fail "ulimit -n $value: status $status, $(cat "$scratch/err")"
done
rm -rf "$work/dest"

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
    expect_status 3
    expect_err "Another installation or removal in $work/$dest is under way."$'\n'
    if [ "$dest" = earlier ]; then  # a new one is not there to uninstall yet
        run "$big" --uninstall "$work/$dest"
        expect_status 3
    fi
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
with_fault renamefail:3 "$changed" -s "$work/dest"
expect_status 1
expect_err_ends "Not everything in $work/dest could be put back as it was; the earlier files \
that could not are kept in $work/dest/.ovelo8-work/old."$'\n'
expect_old_kept

begin "killed at any moment of an upgrade, the next run completes it or puts back what it replaced"
# Every file changes between the versions, so that every move is one the
# kill can land in; half the rounds then install again, half uninstall.
cp -a "$scratch/changed" "$work/expected"
add_mine "$work/expected"
seed=${OVELO8_TEST_SEED:-$(date +%s)}
echo "kill moments drawn with OVELO8_TEST_SEED=$seed" >&2
RANDOM=$seed
for round in $(seq 16); do
    if [ $((RANDOM % 2)) -eq 0 ]; then
        moment=rename:$((RANDOM % 30 + 1)):9
    else
        moment=signal:$(((RANDOM * 32768 + RANDOM) % total)):9
    fi
    earlier "$work/dest"
    with_fault "$moment" "$changed" -s "$work/dest"
    case_name="killed at $moment, then $([ $((round % 2)) -eq 1 ] && echo installed || echo uninstalled)"
    if [ $((round % 2)) -eq 1 ]; then
        run "$changed" -s "$work/dest"
        expect_status 0
        expect_same_tree "$work/expected" "$work/dest"
    else
        run "$changed" --uninstall "$work/dest"
        [ "$(cd "$work/dest" && find . | LC_ALL=C sort | tr '\n' ' ')" = ". ./clips ./clips/mine.ovl ./notes.txt " ] ||
            fail "more than the user's files were left: $(cd "$work/dest" && find .)"
    fi
    expect_no_hidden_folder "$work"
done
rm -rf "$work/dest"

begin "killed while its work folder is cleared away, the next run goes on as if it had ended"
cp -a "$SAMPLE_PRODUCT" "$work/changed"
find "$work/changed" -type f -exec sh -c 'printf "changed\n" >>"$1"' sh {} \;
package "$work/changed" "$work/changed.run"
add_mine "$work/changed"
for n in $(seq 30); do  # every unlink of the upgrade, its last ones those of the clearing
    earlier "$work/dest"
    with_fault "unlink:$n:9" "$work/changed.run" -s "$work/dest"
    run "$work/changed.run" -s "$work/dest"
    [ "$status" -eq 0 ] || fail "killed at unlink $n: status $status, $(cat "$scratch/err")"
    expect_same_tree "$work/changed" "$work/dest"
    expect_no_hidden_folder "$work/dest"
done
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

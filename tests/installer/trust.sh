#!/bin/bash
# Root installing among other users' files (uid 65534 plays the other user):
# their links are never followed, a destination swapped during the run is
# never written into, and without /proc our own file is still the one read.
. "$(dirname "$0")/lib.sh"
require_root "setpriv, chown, mount namespaces"

begin "refuses another user's link, as the destination or on the way to it"
mkdir -m 1777 "$work/shared"
mkdir "$work/target"
as_nobody ln -s "$work/target" "$work/shared/dest"
for form in dest dest/ dest/. dest/sub; do
    run "$sample" -s "$work/shared/$form"
    expect_failed_run
    case $form in
        dest | dest/) expect_err "The destination $work/shared/$form is a link owned by another user."$'\n' ;;
        *) expect_err "The destination $work/shared/$form lies behind $work/shared/dest, a link owned by another user."$'\n' ;;
    esac
done
expect_empty_dir "$work/target"

begin "follows a link of the installing user or of root"
mkdir -m 1777 "$work/links"
mkdir "$work/nobody" "$work/root"
chown 65534:65534 "$work/nobody"
as_nobody ln -s "$work/nobody" "$work/links/nobody"
ln -s "$work/root" "$work/links/root"
run as_nobody "$sample" -s "$work/links/nobody/"
expect_status 0
run "$sample" -s "$work/links/root"
expect_status 0
for who in nobody root; do
    [ -x "$work/$who/ovelo" ] || fail "nothing installed through the link of $who"
done

begin "never writes through a link planted while it runs"
# The other user owns the parent: it renames each new destination away and
# plants a link to $work/outside in its place, as fast as it can.
mkdir "$work/parent" "$work/outside"
chown 65534:65534 "$work/parent"
setpriv --reuid=65534 --regid=65534 --clear-groups perl -e 'alarm 300; chdir $ARGV[0] or die; while (1) { opendir(my $dir, ".") or die;
        for (grep { /^dest\d+$/ && -d && !-l } readdir $dir) {
            rename($_, "moved-$_") and symlink($ARGV[1], $_) } }' "$work/parent" "$work/outside" &
swapper=$!
stopped=0
for attempt in $(seq 30); do
    run "$sample" -s "$work/parent/dest$attempt"
    [ "$status" -eq 0 ] || stopped=$((stopped + 1))
    [ -z "$(ls -A "$work/outside")" ] || fail "attempt $attempt wrote outside: $(ls -A "$work/outside")"
done
kill "$swapper"
wait "$swapper" 2>/dev/null
echo "$stopped of 30 runs were stopped by the swap"

begin "never writes through a folder on the way swapped for a link while it runs"
# In a sticky folder the other user swaps its folder u with its link u.l to
# $work/victim, atomically and as fast as it can (renameat2, 316 on x86-64,
# with RENAME_EXCHANGE).
mkdir -m 1777 "$work/sticky"
mkdir -p "$work/victim/bin"
as_nobody mkdir "$work/sticky/u" "$work/sticky/u/bin"
as_nobody ln -s "$work/victim" "$work/sticky/u.l"
setpriv --reuid=65534 --regid=65534 --clear-groups perl -e 'alarm 300; chdir $ARGV[0] or die;
        my ($u, $link) = ("u", "u.l"); while (1) { syscall(316, -100, $u, -100, $link, 2) == 0 or die "$!" }' \
    "$work/sticky" &
swapper=$!
stopped=0
for attempt in $(seq 30); do
    for dest in bin "new$attempt"; do
        run "$sample" -s "$work/sticky/u/$dest"
        [ "$status" -eq 0 ] || stopped=$((stopped + 1))
        [ "$(entries "$work/victim")" = bin ] && [ -z "$(ls -A "$work/victim/bin")" ] ||
            { fail "attempt $attempt at u/$dest wrote outside"; break 2; }
    done
done
kill "$swapper"
wait "$swapper" 2>/dev/null
echo "$stopped of 60 runs were stopped by the swap"

begin "without /proc, reads the start path only when it is a path"
cp "$sample" "$work/ovelo8.run"
run_in "$work" unshare --mount sh -c 'umount -l /proc && exec "$@"' sh ./ovelo8.run -s "$work/dest"
expect_status 0
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
PATH=$work:$PATH run_in "$work" unshare --mount sh -c 'umount -l /proc && exec "$@"' sh \
    ovelo8.run -s "$work/bare"
expect_failed_run
expect_err "$(printf 'unable to find location of executable %s to self-extract.  Please run \n%s with an absolute path (e.g. ./%s)\n\n' ovelo8.run ovelo8.run ovelo8.run)"$'\n\n'
expect_absent "$work/bare"

finish

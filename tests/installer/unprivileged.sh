#!/bin/bash
# An unprivileged user (nobody, through setpriv) packaging and installing,
# and destinations that belong to another user (chown): what the permissions
# refuse is refused with its message, and what belongs to others is left
# alone.  Only root can switch users and hand out folders.
. "$(dirname "$0")/lib.sh"
require_root "setpriv, chown"

begin "fails, leaving nothing behind, when it cannot list the whole tree"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
chmod 0311 "$work/tree/plugins"  # entered, not listed, by anyone but root
mkdir "$work/tmp" "$work/out"
chown 65534:65534 "$work/tmp" "$work/out"
TMPDIR=$work/tmp as_nobody "$MKINSTALLER" "$INSTALLER_IMAGE" "$work/tree" "$work/out/x.run" \
    2>"$work/err" && fail "packaged a tree it could not list"
grep -q '^mkinstaller: ' "$work/err" || fail "no message of its own"
[ -z "$(entries "$work/tmp")$(entries "$work/out")" ] || fail "left files behind"

begin "an installer file that can be run but not read is refused"
cp "$sample" "$work/ovelo8.run"
chmod 0711 "$work/ovelo8.run"
mkdir "$work/owned" && chown 65534:65534 "$work/owned"
run as_nobody "$work/ovelo8.run" -s "$work/owned/dest"
expect_failed_run
expect_err "$(printf 'unable to read %s.  Please do chmod 0500 %s and try again\n' "$work/ovelo8.run" "$work/ovelo8.run")"$'\n\n'
expect_absent "$work/owned/dest"

begin "leaves the mode and owner of an existing destination alone"
mkdir -m 0750 "$work/root-private"
run "$sample" -s "$work/root-private"
expect_status 0
mkdir -m 0700 "$work/nobody-private"
chown 65534:65534 "$work/nobody-private"
run as_nobody "$sample" -s "$work/nobody-private"
expect_status 0
[ "$(stat -c '%a %u' "$work/root-private")" = "750 0" ] ||
    fail "installed by root, its own directory became $(stat -c '%a %u' "$work/root-private")"
[ "$(stat -c '%a %u' "$work/nobody-private")" = "700 65534" ] ||
    fail "installed by nobody, its own directory became $(stat -c '%a %u' "$work/nobody-private")"

begin "refuses an existing directory without write permission"
mkdir -m 0555 "$work/readonly"
run as_nobody "$sample" -s "$work/readonly"
expect_failed_run
expect_err $'You do not have write permission for the destination directory.\n'
expect_empty_dir "$work/readonly"

begin "stops when it cannot change into a writable destination"
# Writable but not searchable: the checks pass, changing into it does not.
mkdir -m 0722 "$work/nosearch"
run as_nobody "$sample" -s "$work/nosearch"
expect_failed_run
expect_err "Can not change to directory $work/nosearch"$'\n'
expect_empty_dir "$work/nosearch"
[ "$(stat -c %a "$work/nosearch")" = 722 ] || fail "the destination was changed"

begin "--uninstall and --verify of an installation in a folder nobody may search say why"
mkdir -m 0700 "$work/locked"
run "$sample" -s "$work/locked/dest"
while IFS='|' read -r option expected message; do
    run as_nobody "$sample" "$option" "$work/locked/dest"
    expect_status "$expected"
    expect_out_empty
    expect_err "${message//DIR/$work/locked/dest}"$'\n'
done <<'EOF'
--uninstall|1|Can not remove DIR: Permission denied
--verify|2|Not everything in DIR could be read: Permission denied; it can not be told whether it is what this file installs.
EOF
expect_same_tree "$SAMPLE_PRODUCT" "$work/locked/dest"

begin "an earlier file the upgrade can not remove is named; the upgrade is done"
cp -a "$SAMPLE_PRODUCT" "$work/v2"
rm -r "$work/v2/plugins"
package "$work/v2" "$work/v2.run"
mkdir "$work/owned"
chown 65534:65534 "$work/owned"
run as_nobody "$sample" -s "$work/owned/dest"
expect_status 0
chmod 0555 "$work/owned/dest/plugins/resources"
run as_nobody "$work/v2.run" -s "$work/owned/dest"
expect_status 0
expect_err "Can not remove $work/owned/dest/plugins/resources/subtitles.res: Permission denied"$'\n'
diff -r -x .ovelo8-manifest -x plugins "$work/v2" "$work/owned/dest" >/dev/null ||
    fail "the new version is not in place"
rm -rf "$work/owned"

begin "installs as an unprivileged user into a directory it owns, within its umask"
mkdir "$work/owned"
chown 65534:65534 "$work/owned"
run as_nobody sh -c 'umask 027 && exec "$0" -s "$1"' "$sample" "$work/owned/dest"
expect_status 0
expect_err ""
[ "$(stat -c %u "$work/owned/dest/ovelo")" = 65534 ] || fail "the tree is not the user's"
diff -r -x .ovelo8-manifest "$SAMPLE_PRODUCT" "$work/owned/dest" >/dev/null || fail "contents differ"
[ "$(stat -c %a "$work/owned/dest/ovelo" "$work/owned/dest/README" "$work/owned/dest/clips" \
    "$work/owned/dest")" = "$(printf '750\n640\n750\n750')" ] ||
    fail "the umask 027 was not applied: $(stat -c '%a %n' "$work/owned/dest"/*)"

begin "installs when no thread may start, decompressing on its own"
# One process allowed (root is never held to it): no worker thread starts.
mkdir "$work/owned"
chown 65534:65534 "$work/owned"
run as_nobody prlimit --nproc=1 "$sample" -s "$work/owned/dest"
expect_status 0
expect_err ""
diff -r -x .ovelo8-manifest "$SAMPLE_PRODUCT" "$work/owned/dest" >/dev/null || fail "contents differ"

finish

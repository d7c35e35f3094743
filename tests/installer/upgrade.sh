#!/bin/bash
# What an installation leaves behind: a manifest of what it put there, so
# that installing a newer version removes what the new one no longer ships
# and --uninstall removes the product, both leaving alone what the user
# added or changed, and an upgrade that changes entries' types.
. "$(dirname "$0")/lib.sh"

# version DIR NUMBER: a product tree of the sample's, with what differs
# between the two versions.
version() {
    rm -rf "$1"
    cp -a "$SAMPLE_PRODUCT" "$1"
    : >"$1/empty.cfg"
    if [ "$2" = 1 ]; then
        printf 'dropped in 2\n' >"$1/clips/old.ovl"
        printf 'dropped in 2\n' >"$1/stale.txt"
        mkdir -p "$1/skins/dark" "$1/kind/deeper"
        printf 'skin\n' >"$1/skins/dark/skin.cfg"
        printf 'a folder in 1\n' >"$1/kind/inside"
        ln -s clips "$1/shortcut"
        ln -P "$1/shortcut" "$1/shortcut.same"  # a hard link to a symbolic link
        printf 'a file in 1\n' >"$1/flat"
        printf '#!/bin/sh\necho version 1\n' >"$1/ovelo"
        printf 'volume=5\n' >"$1/ovelo.conf"
    else
        printf 'a file in 2\n' >"$1/kind"
        mkdir "$1/shortcut"
        printf 'a folder in 2\n' >"$1/shortcut/inside"
        ln -s README "$1/flat"
        ln "$1/README" "$1/clips/README.same"
        printf '#!/bin/sh\necho version 2\n' >"$1/ovelo"
        printf 'volume=6\n' >"$1/ovelo.conf"
    fi
}
version "$scratch/v1" 1
version "$scratch/v2" 2
for v in 1 2; do
    "$MKINSTALLER" --product-version "$v.0" "$INSTALLER_IMAGE" "$scratch/v$v" "$scratch/v$v.run" \
        >/dev/null || fail "packaging version $v failed"
done

install() {
    run "$1" -s "$2"
    expect_status 0
}

begin "a manifest lists every entry with its type, mode, size and checksum, and the version"
install "$scratch/v1.run" "$work/v1"
[ "$(head -n 2 "$work/v1/.ovelo8-manifest")" = $'ovelo8-manifest 2\nversion 1.0' ] ||
    fail "the product's version is not recorded: $(head -n 2 "$work/v1/.ovelo8-manifest")"
"$scratch/v1.run" --info | grep -qx "Product version: 1.0" || fail "--info does not show it"
install "$sample" "$work/dest"
manifest=$work/dest/.ovelo8-manifest
[ "$(head -n 1 "$manifest")" = "ovelo8-manifest 1" ] || fail "no manifest header"
[ "$(grep -c '' "$manifest")" -eq "$(($(find "$SAMPLE_PRODUCT" -mindepth 1 | wc -l) + 1))" ] ||
    fail "the manifest does not list every entry"
grep -qx "f 0755 $(stat -c %s "$work/dest/ovelo") $(cksum <"$work/dest/ovelo" | cut -d' ' -f1) ovelo" \
    "$manifest" || fail "the player's line is not what cksum says"
grep -qx 'd 0755 0 0 help/pictures' "$manifest" || fail "no line for a folder"
# Files and folders get the times packaging stored: the tree's.
for entry in ovelo help help/pictures; do
    [ "$(stat -c %Y "$work/dest/$entry")" = "$(stat -c %Y "$SAMPLE_PRODUCT/$entry")" ] ||
        fail "the time of $entry is not the archive's: $(stat -c %Y "$work/dest/$entry")"
done

begin "mkinstaller refuses a product holding a manifest of its own"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
printf 'x\n' >"$work/tree/.ovelo8-manifest"
"$MKINSTALLER" "$INSTALLER_IMAGE" "$work/tree" "$work/out.run" 2>"$work/err" &&
    fail "packaged a product holding .ovelo8-manifest"
grep -q '\.ovelo8-manifest' "$work/err" || fail "the refusal does not name it: $(cat "$work/err")"
expect_absent "$work/out.run"

begin "an upgrade removes what the new version no longer ships, unless changed since"
install "$scratch/v1.run" "$work/dest"
printf 'changed by the user\n' >>"$work/dest/stale.txt"
printf 'mine\n' >"$work/dest/notes.txt"
printf 'mine\n' >"$work/dest/skins/dark/mine.cfg"
chmod 0700 "$work/dest/clips"  # the new version's folders get its modes
install "$scratch/v2.run" "$work/dest"
expect_err "These files of the earlier version were changed since; they are kept:
  $work/dest/stale.txt"$'\n'
expect_absent "$work/dest/clips/old.ovl"
expect_absent "$work/dest/skins/dark/skin.cfg"
[ "$(stat -c %Y "$work/dest/clips")" = "$(stat -c %Y "$scratch/v2/clips")" ] ||
    fail "the folder a removal was made in lost the archive's time"
[ "$(cat "$work/dest/notes.txt" "$work/dest/skins/dark/mine.cfg")" = $'mine\nmine' ] ||
    fail "the user's files were touched"
grep -q 'changed by the user' "$work/dest/stale.txt" || fail "the changed file was not kept"
rm -r "$work/dest/stale.txt" "$work/dest/notes.txt" "$work/dest/skins"
expect_same_tree "$scratch/v2" "$work/dest"
[ "$(stat -c %i "$work/dest/README")" = "$(stat -c %i "$work/dest/clips/README.same")" ] ||
    fail "the hard link was not made"
expect_no_work_left() { expect_absent "$work/dest/.ovelo8-work"; }
expect_no_work_left

# Every entry but the top folder, with its inode and change time.
entry_stamps() {
    (cd "$1" && find . -mindepth 1 -printf '%p %i %C@\n' | LC_ALL=C sort)
}

begin "a run again of the same file changes nothing; an upgrade rewrites only what differs"
install "$scratch/v1.run" "$work/dest"
stamps=$(entry_stamps "$work/dest")
sleep 0.01  # a change time written again would differ
install "$scratch/v1.run" "$work/dest"
expect_err ""
[ "$(entry_stamps "$work/dest")" = "$stamps" ] || fail "entries were written again: $(diff <(
    printf '%s\n' "$stamps") <(entry_stamps "$work/dest"))"
install "$scratch/v2.run" "$work/dest"
[ "$(grep ' ./LICENSE ' <<<" $(entry_stamps "$work/dest")")" = "$(grep ' ./LICENSE ' <<<" $stamps")" ] ||
    fail "a file the same in both versions was written again"
expect_same_tree "$scratch/v2" "$work/dest"
rm -rf "$work/dest"

begin "the user's own versions of shipped files are kept beside the new ones, and named"
# An upgrade over a file the user changed; a first installation over a
# folder holding the user's files of the product's names.
install "$scratch/v1.run" "$work/dest"
printf 'volume=11\n' >"$work/dest/ovelo.conf"
install "$scratch/v2.run" "$work/dest"
expect_err "The new version replaced files you had changed or put there yourself; yours are kept \
beside them:
  $work/dest/ovelo.conf.ovelo8-saved"$'\n'
[ "$(cat "$work/dest/ovelo.conf" "$work/dest/ovelo.conf.ovelo8-saved")" = $'volume=6\nvolume=11' ] ||
    fail "the new version or the user's was not kept"
run "$sample" --uninstall "$work/dest"
[ "$(cat "$work/dest/ovelo.conf.ovelo8-saved")" = volume=11 ] || fail "uninstall removed the saved copy"
rm -rf "$work/dest"
mkdir "$work/dest"
printf 'my own notes\n' >"$work/dest/README"
cp "$SAMPLE_PRODUCT/LICENSE" "$work/dest/LICENSE"
install "$sample" "$work/dest"
expect_err "The new version replaced files you had changed or put there yourself; yours are kept \
beside them:
  $work/dest/README.ovelo8-saved"$'\n'
[ "$(cat "$work/dest/README.ovelo8-saved")" = "my own notes" ] || fail "the user's README is gone"
rm "$work/dest/README.ovelo8-saved"
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
rm -rf "$work/dest"

begin "an entry that can not be staged fails the upgrade, and leaves what it was to replace"
# The user's file is the first entry staged, the manifest the second.
install "$scratch/v1.run" "$work/dest"
printf 'volume=9\n' >"$work/dest/ovelo.conf"
cp -p "$work/dest/ovelo.conf" "$work/dest/.ovelo8-manifest" "$work"
stamps=$(entry_stamps "$work/dest")
for n in 1 2; do
    run env LD_PRELOAD="$WRITE_FAULT" OVELO8_WRITE_FAULT=create:$n "$scratch/v1.run" -s "$work/dest"
    expect_failed_run
    expect_err_ends "$unpack_failed"
    cmp -s "$work/ovelo.conf" "$work/dest/ovelo.conf" || fail "create:$n: the user's file is gone"
    cmp -s "$work/.ovelo8-manifest" "$work/dest/.ovelo8-manifest" || fail "create:$n: the manifest is gone"
    [ "$(entry_stamps "$work/dest")" = "$stamps" ] || fail "create:$n: the installation was changed"
    expect_no_work_left
done
rm -rf "$work/dest"

begin "the user's version that can not be kept beside the new one stays, named, until it can"
install "$scratch/v1.run" "$work/dest"
printf 'volume=11\n' >"$work/dest/ovelo.conf"
touch "$work/dest/ovelo.conf.ovelo8-saved" "$work/dest/ovelo.conf.ovelo8-saved-"{2..100}
run "$scratch/v2.run" -s "$work/dest"
expect_status 1  # installed, but a file of the user's is not where it belongs
grep -q "^Can not keep $work/dest/ovelo.conf beside the new version: File exists; it is kept as \
$work/dest/.ovelo8-work/old/[0-9]*\.$" "$scratch/err" || fail "not named: $(cat "$scratch/err")"
grep -rqx 'volume=11' "$work/dest" || fail "the user's ovelo.conf is gone"
run "$scratch/v2.run" -s "$work/dest"
expect_status 1
expect_err "Not everything in $work/dest could be put back as it was; the earlier files that could \
not are kept in $work/dest/.ovelo8-work/old."$'\n'
rm "$work/dest/ovelo.conf.ovelo8-saved-100"
install "$scratch/v2.run" "$work/dest"
expect_err "An installation into $work/dest was interrupted after its files were in place; it was \
completed first.
The new version replaced files you had changed or put there yourself; yours are kept beside them:
  $work/dest/ovelo.conf.ovelo8-saved-100"$'\n'
[ "$(cat "$work/dest/ovelo.conf.ovelo8-saved-100")" = volume=11 ] || fail "not kept beside"
expect_absent "$work/dest/.ovelo8-work"
rm -rf "$work/dest"

begin "folders become files or links and back between versions"
install "$scratch/v1.run" "$work/dest"
exec 3<"$work/dest/ovelo"  # a running player keeps the file it started from
install "$scratch/v2.run" "$work/dest"
expect_err ""
expect_same_tree "$scratch/v2" "$work/dest"
[ "$(cat <&3)" = $'#!/bin/sh\necho version 1' ] || fail "the player was rewritten in place"
exec 3<&-
install "$scratch/v1.run" "$work/dest"
expect_same_tree "$scratch/v1" "$work/dest"

begin "a folder made a file goes aside and comes back whole; a file found changed by comparing takes its hard link along"
# "0", of the same size and time in both, is staged as the number of its
# move, 0; the folder's content is the last the new version no longer ships.
for v in 1 2; do
    cp -a "$SAMPLE_PRODUCT" "$work/p$v"
    printf 'v%s' "$v" >"$work/p$v/0"
    ln "$work/p$v/0" "$work/p$v/zl"
    touch -d '2020-01-02 03:04:05' "$work/p$v/0"
    if [ "$v" = 1 ]; then mkdir -p "$work/p1/a/sub" && printf 'x\n' >"$work/p1/a/x"
    else printf 'a file\n' >"$work/p2/a"; fi
    package "$work/p$v" "$work/p$v.run"
done
install "$work/p1.run" "$work/dest"
listing=$(tree_listing "$work/dest")
with_fault syncfs:fail:2 "$work/p2.run" -s "$work/dest"
expect_failed_run
expect_err_ends "$unpack_failed"
[ "$(tree_listing "$work/dest")" = "$listing" ] || fail "not put back: $(tree_listing "$work/dest")"
install "$work/p2.run" "$work/dest"
expect_err ""
expect_same_tree "$work/p2" "$work/dest"
rm -rf "$work/dest"

begin "a folder holding the user's files, or the user's link where a folder goes, is kept: nothing changes"
for mine in kind/mine kind/deeper/mine shortcut; do
    install "$scratch/v1.run" "$work/dest"
    if [ "$mine" = shortcut ]; then
        rm "$work/dest/shortcut"
        ln -s "$work" "$work/dest/shortcut"
    else
        printf 'mine\n' >"$work/dest/$mine"
    fi
    listing=$(tree_listing "$work/dest")
    run "$scratch/v2.run" -s "$work/dest"
    expect_failed_run
    expect_err_ends "$unpack_failed"
    [ "$(tree_listing "$work/dest")" = "$listing" ] || fail "the installation was changed"
    [ "$mine" != shortcut ] || [ "$(readlink "$work/dest/shortcut")" = "$work" ] ||
        fail "the user's link was replaced"
    expect_no_work_left
    rm -rf "$work/dest"
done

begin "--uninstall of a folder that is not there, or of one on the way: nothing is installed"
: >"$work/file"
for absent in "$work/absent" "$work/absent/dest" "$work/file/dest"; do
    run "$sample" --uninstall "$absent"
    expect_status 0
    expect_err "Nothing is installed in $absent."$'\n'
    run "$sample" --verify "$absent"
    expect_status 1
    [ "$(cat "$scratch/out")" = "not installed" ] || fail "said $(cat "$scratch/out")"
done

begin "--verify tells what differs from what the file installs, or that it is the same"
run "$scratch/v1.run" --verify "$work/dest"
expect_status 1
[ "$(cat "$scratch/out")" = "not installed" ] || fail "said $(cat "$scratch/out")"
install "$scratch/v1.run" "$work/dest"
printf 'mine\n' >"$work/dest/notes.txt"
run "$scratch/v1.run" --verify "$work/dest"
expect_status 0
expect_out_empty
printf 'x\n' >>"$work/dest/README"
rm "$work/dest/flat"
chmod 0600 "$work/dest/LICENSE"
run "$scratch/v1.run" --verify "$work/dest"
expect_status 1
[ "$(cat "$scratch/out")" = $'changed: LICENSE\nchanged: README\nmissing: flat' ] ||
    fail "said $(cat "$scratch/out")"
run "$sample" --verify "$work/dest"
expect_status 1
grep -qx "other version: installed 1.0, this file unknown" "$scratch/out" ||
    fail "said $(cat "$scratch/out")"
if [ "$(id -u)" -eq 0 ]; then  # a file it can not read: nobody can not tell
    chmod 0000 "$work/dest/README"
    run as_nobody "$scratch/v1.run" --verify "$work/dest"
    expect_status 2
fi
rm -rf "$work/dest"

begin "--uninstall removes the product and the folder, and leaves the settings file"
install "$scratch/v1.run" "$work/dest"
printf 'settings\n' >"$work/.home/.Quorvex_ZembraSDK_60"
run "$sample" --uninstall "$work/dest"
expect_status 0
expect_err ""
expect_absent "$work/dest"
[ "$(cat "$work/.home/.Quorvex_ZembraSDK_60")" = settings ] || fail "the settings file was touched"

begin "--uninstall keeps and names changed and added files; removing what it should, it is done"
install "$scratch/v1.run" "$work/dest"
printf 'changed\n' >>"$work/dest/README"
printf 'mine\n' >"$work/dest/skins/dark/mine.cfg"
run env DISPLAY=:99 "$sample" --uninstall "$work/dest"
expect_status 0
expect_err "Kept $work/dest/README: it was changed since it was installed.
Kept $work/dest/skins/dark: it holds files that were not installed.
Kept $work/dest/skins: it holds files that were not installed."$'\n'
[ "$(cd "$work/dest" && find . | LC_ALL=C sort | paste -sd ' ')" = \
    ". ./README ./skins ./skins/dark ./skins/dark/mine.cfg" ] ||
    fail "left: $(cd "$work/dest" && find . | paste -sd ' ')"

begin "--uninstall that keeps only a changed file is done, and names it"
install "$scratch/v1.run" "$work/dest"
printf 'changed\n' >>"$work/dest/README"
run "$sample" --uninstall "$work/dest"
expect_status 0
expect_err "Kept $work/dest/README: it was changed since it was installed."$'\n'

begin "--uninstall names what it can not reach, behind a link put in place of a folder"
install "$scratch/v1.run" "$work/dest"
mv "$work/dest/skins" "$work/elsewhere"
ln -s "$work/elsewhere" "$work/dest/skins"
run "$sample" --uninstall "$work/dest"
expect_status 1
grep -q "^Can not remove $work/dest/skins/dark/skin.cfg: " "$scratch/err" ||
    fail "the file behind the link is not named: $(cat "$scratch/err")"
[ -f "$work/elsewhere/dark/skin.cfg" ] || fail "the link was followed"
rm -rf "$work/dest" "$work/elsewhere"

begin "--uninstall of an empty name is refused, even from within an installation"
install "$scratch/v1.run" "$work/dest"
run_in "$work/dest" "$sample" --uninstall ""
expect_status 1
expect_err "You must specify a destination directory."$'\n'
[ -f "$work/dest/.ovelo8-manifest" ] && [ -f "$work/dest/ovelo" ] || fail "something was removed"
rm -rf "$work/dest"

begin "--uninstall refuses a file, a folder without a manifest, or one naming what lies outside"
mkdir -p "$work/dest" "$work/outside"
printf 'mine\n' >"$work/dest/ovelo"
run "$sample" --uninstall "$work/dest/ovelo"
expect_status 1
expect_err "The destination $work/dest/ovelo is not a directory."$'\n'
run "$sample" --uninstall "$work/dest"
expect_status 1
expect_err "$work/dest holds no record of an installation (.ovelo8-manifest); nothing was removed."$'\n'
[ "$(cat "$work/dest/ovelo")" = mine ] || fail "a file was removed"
printf 'ovelo8-manifest 1\nf 0644 5 %s ovelo\nd 0755 0 0 ../outside\n' \
    "$(cksum <"$work/dest/ovelo" | cut -d' ' -f1)" >"$work/dest/.ovelo8-manifest"
run "$sample" --uninstall "$work/dest"
expect_status 1
expect_err "The record of the installation $work/dest/.ovelo8-manifest can not be read; nothing was removed."$'\n'
[ -f "$work/dest/ovelo" ] && [ -d "$work/outside" ] || fail "something was removed"

finish

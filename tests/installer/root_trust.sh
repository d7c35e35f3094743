#!/bin/bash
# What root installs into, and starts, is root's alone: a destination of
# another user, one that others may write into, or one behind a folder they
# may change is refused before anything is written.  An ordinary user is
# refused only what belongs to somebody else.  And a player that cannot be
# started is a failure, not a success.  (uid 65534 plays the other user.)
. "$(dirname "$0")/lib.sh"
require_root "setpriv, chown, mount"

# refused DESTINATION MESSAGE [as_nobody]: refused with MESSAGE, nothing written.
refused() {
    local before=absent
    [ ! -e "$1" ] || before=$(tree_listing "$1")
    run ${3:-} "$sample" -s "$1"
    expect_failed_run
    expect_err "$2"$'\n'
    if [ "$before" = absent ]; then expect_absent "$1"
    else [ "$(tree_listing "$1")" = "$before" ] || fail "$1: something was written"
    fi
}

begin "root refuses another user's destination, or one others may change"
mkdir "$work/theirs" "$work/group" "$work/everyone"
chown 65534:65534 "$work/theirs"
chmod 0775 "$work/group"
chmod 1777 "$work/everyone"
refused "$work/theirs" "The destination $work/theirs belongs to another user."
refused "$work/group" "The destination $work/group can be changed by other users."
refused "$work/everyone" "The destination $work/everyone can be changed by other users."

begin "root refuses a destination behind a folder others may change"
mkdir -m 0777 "$work/open"
mkdir -m 0755 "$work/open/dest" "$work/owned"
chown 65534:65534 "$work/owned"
refused "$work/open/dest" "The destination $work/open/dest lies in $work/open, which can be changed by other users."
refused "$work/open/new" "The destination $work/open/new lies in $work/open, which can be changed by other users."
refused "$work/owned/new" "The destination $work/owned/new lies in $work/owned, which can be changed by other users."
mkdir -m 1777 "$work/sticky"
run "$sample" -s "$work/sticky/dest"
expect_status 0
expect_same_tree "$SAMPLE_PRODUCT" "$work/sticky/dest"

begin "root upgrading refuses a folder of the destination another user owns or may change"
# What the product writes into, and what it removes from: the user's
# folder keeps its mode, and nothing is written.
for folder in plugins:owned help/pictures:0777 codecs:stale; do
    rm -rf "$work/dest"
    run "$sample" -s "$work/dest"
    expect_status 0
    name=${folder%%:*}
    case ${folder#*:} in
        owned) chown 65534:65534 "$work/dest/$name"; chmod 0700 "$work/dest/$name"
               message="The folder $work/dest/$name belongs to another user." ;;
        0777) chmod 0777 "$work/dest/$name"
              message="The folder $work/dest/$name can be changed by other users." ;;
        stale) chown 65534:65534 "$work/dest/$name"  # the new version no longer ships it
               message="The folder $work/dest/$name belongs to another user." ;;
    esac
    listing=$(tree_listing "$work/dest")
    installer=$sample
    [ "$name" != codecs ] || installer=$scratch/without-codecs.run
    if [ "$name" = codecs ] && [ ! -e "$installer" ]; then
        cp -a "$SAMPLE_PRODUCT" "$scratch/without-codecs" && rm -r "$scratch/without-codecs/codecs"
        package "$scratch/without-codecs" "$installer"
    fi
    run "$installer" -s "$work/dest"
    expect_failed_run
    expect_err "$message"$'\n'
    [ "$(tree_listing "$work/dest")" = "$listing" ] || fail "$name: the destination was changed"
done

begin "root neither installs nor uninstalls through a work folder another user owns or may change"
# Whatever that user left there, a journal opening the destination to
# them say, is not followed.
for kind in owned 0777; do
    rm -rf "$work/dest"
    run "$sample" -s "$work/dest"
    mkdir "$work/dest/.ovelo8-work"
    if [ "$kind" = owned ]; then
        chown 65534:65534 "$work/dest/.ovelo8-work"
        message="The folder $work/dest/.ovelo8-work belongs to another user."
    else
        chmod 0777 "$work/dest/.ovelo8-work"
        message="The folder $work/dest/.ovelo8-work can be changed by other users."
    fi
    as_nobody sh -c 'cd "$1" && mkdir new old && : >new/0 &&
        printf "ovelo8-journal 1\nb 0777 0 0 0 0 .\ne 0 0 .ovelo8-manifest\n" >journal' sh \
        "$work/dest/.ovelo8-work"
    listing=$(tree_listing "$work/dest")
    for option in -s --uninstall; do
        run "$sample" "$option" "$work/dest"
        expect_failed_run
        expect_err "$message"$'\n'
        [ "$(tree_listing "$work/dest")" = "$listing" ] || fail "$kind, $option: the destination was changed"
    done
done

begin "an ordinary user is refused another user's folder, not a group-writable one of their own"
mkdir -m 1777 "$work/shared"
mkdir -m 0777 "$work/shared/third"
chown 65533:65533 "$work/shared/third"
as_nobody mkdir -m 0775 "$work/shared/own"
refused "$work/shared/third" "The destination $work/shared/third belongs to another user." as_nobody
run as_nobody "$sample" -s "$work/shared/own"
expect_status 0
diff -r -x .ovelo8-manifest "$SAMPLE_PRODUCT" "$work/shared/own" >/dev/null || fail "not installed into its own folder"

begin "a player that can not be started from its destination fails the installation"
mkdir "$work/noexec"
mount -t tmpfs -o noexec,size=16m tmpfs "$work/noexec" || fail "could not mount a tmpfs"
mounts+=("$work/noexec")
run "$sample" -s "$work/noexec/dest"
expect_status 1
expect_err "Can not start $work/noexec/dest/ovelo: Permission denied"$'\n'
expect_same_tree "$SAMPLE_PRODUCT" "$work/noexec/dest"

finish

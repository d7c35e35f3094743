# Shared by the end-to-end tests of the packaged installer.  Each test file
# sources this, runs its cases against fresh temporary trees, and ends with
# `finish`, which fails the test when any check failed.
#
# From CTest: INSTALLER_IMAGE (the built executable), MKINSTALLER and
# SAMPLE_PRODUCT (the sample tree).
set -u
unset DISPLAY  # a silent installation must never need a display
umask 022      # the modes the cases expect; a case wanting another sets its own
: "${INSTALLER_IMAGE:?}" "${MKINSTALLER:?}" "${SAMPLE_PRODUCT:?}"

scratch=$(mktemp -d /tmp/ovelo8-test.XXXXXX)
chmod 0755 "$scratch"  # the unprivileged cases work inside it
mounts=()  # mount points a test made, undone before the scratch tree goes

# Whatever the outcome: folders a case left unreadable are opened up
# first, or rm could not empty them.
remove_scratch() {
    local m
    for m in "${mounts[@]}"; do umount -l "$m"; done
    chmod -R u+rwx "$scratch" 2>/dev/null
    rm -rf "$scratch"
}
trap remove_scratch EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
# What the commands under test leave in a temporary folder goes as well;
# like /tmp, every user may write into it.
export TMPDIR=$scratch/tmp
mkdir -m 1777 "$TMPDIR"
case_count=0
case_name=""
image_size=$(stat -c %s "$INSTALLER_IMAGE")

# shellcheck disable=SC2034  # used by the test files
unpack_failed=$'Installation failed.  Perhaps the destination directory is unwriteable or you\nare out of disk space?\n\n'

# Starts a case with a fresh empty directory $work.
begin() {
    case_name=$1
    case_count=$((case_count + 1))
    work=$scratch/case$case_count
    mkdir -m 0755 "$work"
}

# Kept in a file, so that checks inside subshells count as well.
fail() {
    printf 'FAIL [%s] %s\n' "$case_name" "$*" | tee -a "$scratch/failures" >&2
}

finish() {
    if [ -s "$scratch/failures" ]; then
        printf '%d check(s) failed\n' "$(wc -l <"$scratch/failures")" >&2
        exit 1
    fi
    printf 'all %d cases passed\n' "$case_count"
}

as_nobody() {
    setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
}

# require_root WHAT: for a group whose cases all need root for WHAT
# (setpriv, chown, mount...); anybody else sees the whole group reported as
# skipped.
require_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIPPED: these cases need root ($1)" >&2
        exit 77
    fi
}

# package PRODUCT_DIR OUTPUT
package() {
    "$MKINSTALLER" "$INSTALLER_IMAGE" "$1" "$2" >/dev/null || fail "packaging $1 failed"
}

# The packaged sample, made once per test file.
sample=$scratch/ovelo8.run
"$MKINSTALLER" "$INSTALLER_IMAGE" "$SAMPLE_PRODUCT" "$sample" || exit 1

# Runs a command with HOME set to an empty home of the case; records
# $status and the two output streams.
run() {
    mkdir -p "$work/.home"
    HOME=$work/.home "$@" >"$scratch/out" 2>"$scratch/err" </dev/null
    status=$?
}

# run_in DIRECTORY COMMAND ARGS...: run, from that directory.
run_in() {
    local dir=$1
    shift
    run env -C "$dir" "$@"
}

# with_fault FAULT COMMAND...: run, the installer's writes going wrong as
# FAULT says (see tests/support/write_fault.c).
with_fault() {
    local fault=$1
    shift
    run env LD_PRELOAD="$WRITE_FAULT" OVELO8_WRITE_FAULT="$fault" "$@"
}

# The payload length a packaged file names, and its payload bytes.
payload_length() {
    tail -n 1 "$1"
}
payload_of() {
    tail -c "+$((image_size + 1))" "$1" | head -c "$(payload_length "$1")"
}

# padded_member FLAG LENGTH CHAR MEMBER: the gzip member (written without
# optional fields) with a NUL-terminated field of LENGTH times CHAR added
# behind its fixed header: FLAG is 8 for a stored name, 16 for a comment.
# It still unpacks to the same archive, LENGTH + 1 bytes longer.
padded_member() {
    head -c 3 "$4"
    printf "\\$(printf '%03o' "$1")"
    tail -c +5 "$4" | head -c 6
    head -c "$2" /dev/zero | tr '\0' "$3"
    printf '\0'
    tail -c +11 "$4"
}

# The same archive in a member without the seal, as another packager would
# write it.
unsealed_payload() {
    payload_of "$1" | gzip -dc | gzip -n
}

# big_sealed_installer OUTPUT: the sample with 8 MiB more that do not
# compress: more than a pipe holds, and more than the seal check maps at
# once; and an empty folder.
big_sealed_installer() {
    local product=$scratch/big-product
    rm -rf "$product"
    cp -a "$SAMPLE_PRODUCT" "$product"
    head -c $((8 * 1024 * 1024)) /dev/urandom >"$product/clips/noise.ovl"
    mkdir "$product/skins"
    package "$product" "$1"
}

# big_unsealed_installer OUTPUT: the same without a seal, so that no
# free-space check stops it before tar runs.
big_unsealed_installer() {
    big_sealed_installer "$scratch/big-sealed.run"
    unsealed_payload "$scratch/big-sealed.run" >"$scratch/big.gz"
    installer_with "$1" "$scratch/big.gz"
}

# reseal FILE: the seal's checksum of a packaged file computed again, as
# mkinstaller would for the payload as it now is.  The seal "Ov" follows
# the chunk index "Oc" at the start of the extra field; its CRC digits
# close it.
reseal() {
    local index seal digits crc
    index=$(od -An -tu2 -j $((image_size + 14)) -N 2 "$1" | tr -d ' ')
    seal=$(od -An -tu2 -j $((image_size + 18 + index)) -N 2 "$1" | tr -d ' ')
    digits=$((20 + index + seal - 10))
    payload_of "$1" >"$scratch/reseal.gz"
    crc=$({ head -c "$digits" "$scratch/reseal.gz"; tail -c +$((digits + 11)) "$scratch/reseal.gz"; } |
        cksum)
    printf '%010d' "${crc%% *}" |
        dd of="$1" bs=1 seek=$((image_size + digits)) conv=notrunc status=none
}

# installer_with OUTPUT PAYLOAD: the image, the payload and its trailer.
installer_with() {
    assemble "$1" "$2"
    printf '\n%s\n' "$(stat -c %s "$2")" >>"$1"
}

# assemble OUTPUT PAYLOAD: the image and the payload, without a trailer.
assemble() {
    cat "$INSTALLER_IMAGE" "$2" >"$1"
    chmod 0755 "$1"
}

# flip_byte FILE OFFSET: inverts every bit of one byte in place.
flip_byte() {
    local byte
    byte=$(od -An -tu1 -j "$2" -N 1 "$1" | tr -d ' ')
    # shellcheck disable=SC2059
    printf "\\$(printf '%03o' $((byte ^ 255)))" |
        dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}

# A text quoted for a failure message, long ones cut down to their ends.
shown() {
    if [ ${#1} -le 300 ]; then
        printf '%q' "$1"
    else
        printf '%q...(%d bytes)...%q' "${1:0:150}" ${#1} "${1: -150}"
    fi
}

# The whole standard error stream, byte for byte.
expect_err() {
    local got
    got=$(cat "$scratch/err"; printf x)
    got=${got%x}
    [ "$got" = "$1" ] || fail "stderr $(shown "$got"), expected $(shown "$1")"
}

# Standard error ends with the text: the unpacker's own diagnostics may come first.
expect_err_ends() {
    local got
    got=$(cat "$scratch/err"; printf x)
    got=${got%x}
    [ "${got%"$1"}" != "$got" ] || fail "stderr $(shown "$got") does not end with $(shown "$1")"
}

expect_out_empty() {
    [ ! -s "$scratch/out" ] || fail "stdout not empty (was the player started?): $(cat "$scratch/out")"
}

expect_no_settings() {
    [ ! -e "$work/.home/.Quorvex_ZembraSDK_60" ] || fail "a settings file was written"
}

expect_absent() {
    if [ -e "$1" ] || [ -L "$1" ]; then fail "$1 exists"; fi
}

# The names in a directory, sorted, on one line.
entries() {
    find "$1" -mindepth 1 -maxdepth 1 -printf '%f\n' | LC_ALL=C sort | paste -sd ' '
}

expect_empty_dir() {
    if [ ! -d "$1" ] || [ -n "$(ls -A "$1")" ]; then fail "$1 is not an empty directory"; fi
}

# Names, types, modes and the sizes of files (a directory's size is the
# file system's business).
tree_listing() {
    (cd "$1" && find . -path ./.ovelo8-manifest -prune -o \
        \( -type f -printf '%p %y %m %s\n' \) -o -printf '%p %y %m\n' | LC_ALL=C sort)
}

# The same listing with the modes the packager gives, whatever the checkout's
# umask left: the player, directories and files their owner may run 0755,
# other files 0644, links as they are.
packaged_listing() {
    (cd "$1" && find . \( -type l -printf '%p %y %m\n' \) \
        -o \( -type f \( -path ./ovelo -o -perm -u+x \) -printf '%p %y 755 %s\n' \) \
        -o \( -type f -printf '%p %y 644 %s\n' \) -o -printf '%p %y 755\n' |
        LC_ALL=C sort)
}

# The installed tree $2 is what packaging the tree $1 gives: the same
# names, types and contents, with the packager's modes.
expect_same_tree() {
    [ "$(packaged_listing "$1")" = "$(tree_listing "$2")" ] ||
        fail "names, types or modes of $2 differ from the packaged $1"
    diff -r -x .ovelo8-manifest "$1" "$2" >/dev/null || fail "contents of $2 differ from $1"
    [ -f "$2/.ovelo8-manifest" ] || fail "$2 holds no manifest"
}

# The message for a damaged installer file FILE, saying WHAT was found.
expect_damaged() {
    expect_err "The installer file $1 is damaged: $2."$'\n'
}

# A failed silent run: status 1, no player, no settings file.
expect_failed_run() {
    expect_status 1
    expect_out_empty
    expect_no_settings
}

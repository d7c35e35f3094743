#!/bin/bash
# Damaged installer files: a trailer that does not name a payload is refused
# before anything is unpacked; a payload that does not unpack cleanly is a
# failed installation, never a success.
. "$(dirname "$0")/lib.sh"

payload_of "$sample" >"$scratch/payload.gz"
good_length=$(stat -c %s "$scratch/payload.gz")

damaged() {
    printf 'The installer file %s is damaged: no product archive was found at its end.\n' "$1"
}

# The trailer cannot be used: nothing unpacked, nothing started.
expect_refused() {
    run "$1" -s "$work/dest"
    expect_failed_run
    expect_err "$(damaged "$1")"$'\n'
    expect_empty_dir "$work/dest"
}

# The unpacker ran and failed: its own diagnostics, then ours.  What tar
# wrote before the damage showed stays, but the player is never started.
expect_unpack_failure() {
    run "$1" -s "$work/dest"
    expect_failed_run
    expect_err_ends "$unpack_failed"
    grep -q '^gzip: ' "$scratch/err" || fail "gunzip's own diagnostics are missing"
}

expect_installed() {
    run "$1" -s "$work/dest"
    expect_status 0
    expect_err ""
    expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
}

begin "refuses a file without a trailer"
assemble "$work/f.run" "$scratch/payload.gz"
expect_refused "$work/f.run"

begin "refuses a file cut short inside the payload"
head -c $((image_size + good_length / 2)) "$sample" >"$work/f.run"
chmod 0755 "$work/f.run"
expect_refused "$work/f.run"

begin "refuses bytes appended after the trailer"
{ cat "$sample"; printf 'extra'; } >"$work/f.run"
chmod 0755 "$work/f.run"
expect_refused "$work/f.run"

begin "refuses lengths that are not plain positive decimal numbers"
for length in -5 0 00 +5 12abc 0x10 1e3 "5 5" 99999999999999999999999 ""; do
    assemble "$work/f.run" "$scratch/payload.gz"
    printf '\n%s\n' "$length" >>"$work/f.run"
    rm -rf "$work/dest"
    expect_refused "$work/f.run"
done

begin "refuses a length larger than the file"
assemble "$work/f.run" "$scratch/payload.gz"
printf '\n%s\n' $(($(stat -c %s "$work/f.run") + 1)) >>"$work/f.run"
expect_refused "$work/f.run"

begin "accepts a trailer with a carriage return or blanks"
for trailer in '\n%s\r\n' '\n %s\t\n' '\n%s \r\n'; do
    assemble "$work/f.run" "$scratch/payload.gz"
    # shellcheck disable=SC2059
    printf "$trailer" "$good_length" >>"$work/f.run"
    rm -rf "$work/dest"
    expect_installed "$work/f.run"
done

begin "installs a payload whose length is a multiple of 1,024"
# A stored file name in the gzip header pads the member to the length wanted.
name_length=$(((1024 - (good_length + 1) % 1024) % 1024))
padded_member 8 "$name_length" n "$scratch/payload.gz" >"$work/named.gz"
[ $(($(stat -c %s "$work/named.gz") % 1024)) -eq 0 ] || fail "test setup: not a multiple of 1,024"
assemble "$work/f.run" "$work/named.gz"
printf '\n%s\n' "$(stat -c %s "$work/named.gz")" >>"$work/f.run"
expect_installed "$work/f.run"

begin "fails on a corrupted byte in the middle of the payload"
cp "$sample" "$work/f.run"
flip_byte "$work/f.run" $((image_size + good_length / 2))
expect_unpack_failure "$work/f.run"

begin "fails on a flipped checksum"
cp "$sample" "$work/f.run"
flip_byte "$work/f.run" $((image_size + good_length - 8))
expect_unpack_failure "$work/f.run"

begin "fails on a payload missing its last 8 bytes"
head -c $((good_length - 8)) "$scratch/payload.gz" >"$work/short.gz"
assemble "$work/f.run" "$work/short.gz"
printf '\n%s\n' $((good_length - 8)) >>"$work/f.run"
expect_unpack_failure "$work/f.run"

begin "fails on junk between the gzip member and the trailer"
{ cat "$scratch/payload.gz"; printf 'junk'; } >"$work/junk.gz"
assemble "$work/f.run" "$work/junk.gz"
printf '\n%s\n' $((good_length + 4)) >>"$work/f.run"
expect_unpack_failure "$work/f.run"

begin "fails on a byte inserted before the trailer"
{ cat "$scratch/payload.gz"; printf 'x'; } >"$work/shifted.gz"
assemble "$work/f.run" "$work/shifted.gz"
printf '\n%s\n' "$good_length" >>"$work/f.run"
expect_unpack_failure "$work/f.run"

begin "fails, rather than dying of a broken pipe, on a payload that is no gzip"
# Far more than the pipe and the stream buffers hold: gunzip quits at once
# and the installer's later writes meet a closed pipe.
head -c $((8 * 1024 * 1024)) /dev/urandom >"$work/noise"
assemble "$work/f.run" "$work/noise"
printf '\n%s\n' $((8 * 1024 * 1024)) >>"$work/f.run"
expect_unpack_failure "$work/f.run"

finish

#!/bin/bash
# Damaged installer files: a trailer that does not name a payload, or a
# sealed payload that does not match its seal, is refused before anything
# is unpacked; an unsealed payload that does not unpack cleanly is a failed
# installation, never a success.  Each refusal says what was found.
. "$(dirname "$0")/lib.sh"

payload_of "$sample" >"$scratch/payload.gz"
good_length=$(stat -c %s "$scratch/payload.gz")
unsealed_payload "$sample" >"$scratch/unsealed.gz"
unsealed_length=$(stat -c %s "$scratch/unsealed.gz")

damaged() {
    printf 'The installer file %s is damaged: no product archive was found at its end.\n' "$1"
}

# The trailer cannot be used: nothing unpacked, nothing started.
expect_refused() {
    run "$1" -s "$work/dest"
    expect_failed_run
    expect_err "$(damaged "$1")"$'\n'
    expect_absent "$work/dest"
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
name_length=$(((1024 - (unsealed_length + 1) % 1024) % 1024))
padded_member 8 "$name_length" n "$scratch/unsealed.gz" >"$work/named.gz"
[ $(($(stat -c %s "$work/named.gz") % 1024)) -eq 0 ] || fail "test setup: not a multiple of 1,024"
installer_with "$work/f.run" "$work/named.gz"
expect_installed "$work/f.run"

begin "refuses a sealed payload with any byte changed, removing the destination it made"
# In the extra field's walk, in the chunk index (which the checksum covers),
# in the seal, in the compressed data, in the gzip trailer's CRC and length.
checksum="its checksum does not match its content"
while read -r offset what; do
    cp "$sample" "$work/f.run"
    flip_byte "$work/f.run" $((image_size + offset))
    rm -rf "$work/dest"
    run "$work/f.run" -s "$work/dest"
    expect_failed_run
    expect_damaged "$work/f.run" "$what"
    expect_absent "$work/dest"
done <<CASES
14 its seal can not be read
20 $checksum
40 its seal can not be read
$((good_length / 2)) $checksum
$((good_length - 8)) $checksum
$((good_length - 1)) $checksum
CASES

begin "checks a large sealed payload piece by piece, refusing damage in any piece"
big_sealed_installer "$work/big.run"
big_length=$(payload_length "$work/big.run")
run "$work/big.run" -s "$work/dest"
expect_status 0
expect_same_tree "$scratch/big-product" "$work/dest"
for offset in $((big_length / 4)) $((big_length * 3 / 4)); do
    cp "$work/big.run" "$work/f.run"
    flip_byte "$work/f.run" $((image_size + offset))
    rm -rf "$work/dest"
    run "$work/f.run" -s "$work/dest"
    expect_failed_run
    expect_damaged "$work/f.run" "$checksum"
    expect_absent "$work/dest"
done

begin "refuses a chunk that does not decompress to what the index says, leaving nothing"
# Sealed again after the damage, so that only the chunk's own check finds it.
big_sealed_installer "$work/big.run"
while read -r offset; do
    cp "$work/big.run" "$work/f.run"
    flip_byte "$work/f.run" $((image_size + offset))
    reseal "$work/f.run"
    rm -rf "$work/dest"
    run "$work/f.run" -s "$work/dest"
    expect_failed_run
    expect_damaged "$work/f.run" "a chunk of its compressed archive is corrupt"
    expect_absent "$work/dest/ovelo"
done <<CASES
$(($(payload_length "$work/big.run") / 2))
$(($(payload_length "$work/big.run") - 100))
CASES

# forge_seal FILE FIELD VALUE: the seal's figure FIELD (1 the bytes, 2 the
# entries) made VALUE in as many digits, its checksum made right again.
forge_seal() {
    local index length at fields
    index=$(od -An -tu2 -j $((image_size + 14)) -N 2 "$1" | tr -d ' ')
    length=$(od -An -tu2 -j $((image_size + 18 + index)) -N 2 "$1" | tr -d ' ')
    at=$((image_size + 20 + index))
    read -ra fields < <(dd if="$1" bs=1 skip="$at" count="$length" status=none)
    fields[$2]=$(printf '%0*d' ${#fields[$2]} "$3")
    printf '%s' "${fields[*]}" | dd of="$1" bs=1 seek="$at" conv=notrunc status=none
    reseal "$1"
}

begin "refuses a file whose seal does not add up to its archive, installing nothing"
# Fewer bytes or entries are found at the member that passes them, before
# it is written; more at the end.
entries=$(find "$SAMPLE_PRODUCT" -mindepth 1 | wc -l)
while read -r field value; do
    cp "$sample" "$work/f.run"
    forge_seal "$work/f.run" "$field" "$value"
    run "$work/f.run" -s "$work/dest"
    expect_failed_run
    expect_damaged "$work/f.run" "its seal does not match its archive"
    expect_absent "$work/dest"
    run "$work/f.run" --check
    expect_failed_run
    expect_damaged "$work/f.run" "its seal does not match its archive"
done <<CASES
1 1000
2 2
2 $((entries + 1))
CASES

begin "refuses a damaged unsealed payload, saying what was found"
cut=$((unsealed_length - 8))
while read -r edit what; do
    case $edit in
        flip-middle) cp "$scratch/unsealed.gz" "$work/p.gz" &&
            flip_byte "$work/p.gz" $((unsealed_length / 2)) ;;
        flip-crc) cp "$scratch/unsealed.gz" "$work/p.gz" && flip_byte "$work/p.gz" "$cut" ;;
        cut) head -c "$cut" "$scratch/unsealed.gz" >"$work/p.gz" ;;
        junk) { cat "$scratch/unsealed.gz"; printf 'junk'; } >"$work/p.gz" ;;
        second) { cat "$scratch/unsealed.gz"; printf 'x' | gzip -n; } >"$work/p.gz" ;;
    esac
    installer_with "$work/f.run" "$work/p.gz"
    rm -rf "$work/dest"
    run "$work/f.run" -s "$work/dest"
    expect_failed_run
    # zlib's own words for the damage follow where it depends on the data.
    [[ $(cat "$scratch/err") == "The installer file $work/f.run is damaged: $what"* ]] ||
        fail "stderr $(shown "$(cat "$scratch/err")"), expected the damage: $what"
    expect_absent "$work/dest"
done <<'CASES'
flip-middle its compressed archive is corrupt
flip-crc its compressed archive is corrupt (incorrect data check)
cut its compressed archive is cut short
junk other data follows its compressed archive
second other data follows its compressed archive
CASES

begin "refuses, rather than dying of a broken pipe, a payload that is no gzip"
head -c $((8 * 1024 * 1024)) /dev/urandom >"$work/noise"
installer_with "$work/f.run" "$work/noise"
run "$work/f.run" -s "$work/dest"
expect_failed_run
expect_damaged "$work/f.run" "its compressed archive is corrupt (incorrect header check)"
expect_absent "$work/dest"

finish

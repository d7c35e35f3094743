#!/bin/bash
# The command lines answered without a window: --help, --version, --info,
# --list, --check and --verify, each only as the whole command line, with no
# display and writing nothing but the report; any other command line that
# is not the toolkit's a usage error before any display is opened; and the
# toolkit's without a display or a terminal, which end at once with a word
# on the silent form.
. "$(dirname "$0")/lib.sh"
: "${VERSION:?}"

unsealed_payload "$sample" >"$scratch/unsealed.gz"
installer_with "$scratch/unsealed.run" "$scratch/unsealed.gz"
sealed_length=$(payload_length "$sample")
unsealed_length=$(payload_length "$scratch/unsealed.run")
# Damage in the middle of each payload: the seal's checksum, or the
# member's own CRC, gives it away.
cp "$sample" "$scratch/damaged.run"
flip_byte "$scratch/damaged.run" $((image_size + sealed_length / 2))
cp "$scratch/unsealed.run" "$scratch/damaged-unsealed.run"
flip_byte "$scratch/damaged-unsealed.run" $((image_size + unsealed_length / 2))
head -c -1 "$sample" >"$scratch/no-trailer.run"  # the trailer's closing newline
chmod 0755 "$scratch/no-trailer.run"
product_entries=$(find "$SAMPLE_PRODUCT" -mindepth 1 | wc -l)

# Nothing but the report: the case's folder, its home included, stays empty.
expect_nothing_written() {
    [ -z "$(find "$work" -mindepth 1 -not -path "$work/.home")" ] &&
        [ -z "$(ls -A "$work/.home")" ] || fail "something was written: $(find "$work")"
}

expect_out_has() {
    grep -qxF -- "$1" "$scratch/out" || fail "stdout lacks the line $(shown "$1"): $(cat "$scratch/out")"
}

begin "--help and --version answer on standard output, with no display"
run_in "$work" "$sample" --help
expect_status 0
expect_err ""
for word in "$sample -s DIRECTORY" "--verify DIRECTORY" --text --info --list --check --version \
    -display .Quorvex_ZembraSDK_60 "Exit status" "3 another"; do
    grep -qF -- "$word" "$scratch/out" || fail "the usage does not mention $word"
done
run_in "$work" "$sample" --version
expect_status 0
expect_err ""
[ "$(cat "$scratch/out")" = "Ovelo 8 installer $VERSION" ] || fail "version line: $(cat "$scratch/out")"
expect_nothing_written

begin "--info tells the sizes, the seal and the room from the seal"
run_in "$work" "$sample" --info
expect_status 0
expect_out_has "File size: $(stat -c %s "$sample") bytes"
expect_out_has "Payload size: $sealed_length bytes"
expect_out_has "Sealed: yes"
expect_out_has "Entries: $product_entries"
needed=$(sed -n 's/^Space needed: \([0-9]*\) bytes (in blocks of 4 KiB)$/\1/p' "$scratch/out")
[ "${needed:-0}" -gt 0 ] && [ $((needed % 4096)) -eq 0 ] || fail "no space needed in whole blocks"
grep -qx 'Content size: [1-9][0-9]* bytes' "$scratch/out" || fail "no content size"
expect_out_has "Product version: unknown"
expect_out_has "Installer version: $VERSION"
run_in "$work" "$scratch/unsealed.run" --info
expect_status 0
expect_out_has "Sealed: no"
expect_out_has "Space needed: unknown"
expect_out_has "Entries: unknown"
expect_nothing_written

begin "--check and --list pass an intact file, sealed or not"
for file in "$sample" "$scratch/unsealed.run"; do
    run_in "$work" "$file" --check
    expect_status 0
    expect_err ""
    [ "$(cat "$scratch/out")" = "The installer file $file is intact." ] ||
        fail "--check said $(cat "$scratch/out")"
    run_in "$work" "$file" --list
    expect_status 0
    [ "$(wc -l <"$scratch/out")" -eq "$product_entries" ] || fail "$file: not one line an entry"
done
expect_nothing_written

begin "a damaged file: its message on standard error, status 1, no report"
while read -r file option message; do
    run_in "$work" "$scratch/$file" "$option"
    expect_status 1
    [ ! -s "$scratch/out" ] || fail "$file $option reported $(cat "$scratch/out")"
    said=$(cat "$scratch/err")
    [[ $said == "The installer file $scratch/$file is damaged: $message"* ]] ||
        fail "$file $option said $(shown "$said")"
done <<'EOF'
no-trailer.run --info no product archive was found at its end.
no-trailer.run --list no product archive was found at its end.
no-trailer.run --check no product archive was found at its end.
damaged.run --check its checksum does not match its content.
damaged.run --list its checksum does not match its content.
damaged-unsealed.run --check its compressed archive
damaged-unsealed.run --list its compressed archive
EOF
expect_nothing_written

begin "--list shows the packaged tree as tar sees it, in archive order"
# With a hard link, a short link and one too long for its inode, which the
# seal counts as the packer did.
cp -a "$SAMPLE_PRODUCT" "$work/product"
ln -s ../clips/sample.ovl "$work/product/lib/default.ovl"
ln -s "../clips/$(printf 'x%.0s' {1..51})" "$work/product/lib/long.ovl"  # 60 bytes
ln "$work/product/README" "$work/product/README.hard"
package "$work/product" "$work/linked.run"
run "$work/linked.run" --check
expect_status 0
run "$work/linked.run" --list
expect_status 0
# tar -tv: MODE OWNER SIZE DATE TIME NAME [-> TARGET]; without the top
# folder, the "./" and a folder's closing slash.  A link has no mode of its
# own once installed, whatever its header says.
payload_of "$work/linked.run" | tar -tvzf - |
    awk '{ name = $0; for (i = 0; i < 5; i++) sub(/^[^ ]+ +/, "", name)
           sub(/^\.\//, "", name); sub(/\/$/, "", name)
           mode = $1 ~ /^l/ ? "lrwxrwxrwx" : $1
           if (name != "" && $1 !~ /^h/) print mode, $3, name }' >"$work/expected"
grep -v ' link to ' "$scratch/out" | diff "$work/expected" - >"$work/diff" ||
    fail "listing differs: $(cat "$work/diff")"
grep -qxF "lrwxrwxrwx 0 lib/default.ovl -> ../clips/sample.ovl" "$scratch/out" ||
    fail "the link is not listed with its target"
# A hard link installs a file like the one it names, of that size.
grep -qxF -- "-rw-r--r-- $(stat -c %s "$SAMPLE_PRODUCT/README") README.hard link to README" \
    "$scratch/out" || fail "the hard link is not listed as its file: $(grep hard "$scratch/out")"

begin "a command line neither ours nor the toolkit's is a usage error, even with a display"
while read -r expected arguments; do
    # shellcheck disable=SC2086  # the arguments are words, never patterns
    (set -f; DISPLAY=:0 HOME=$work "$sample" $arguments </dev/null >"$scratch/out" 2>"$scratch/err")
    status=$?
    expect_status 2
    [ "$(wc -l <"$scratch/err")" -eq 1 ] && grep -qF -- "$expected" "$scratch/err" &&
        grep -qF -- "$sample --help" "$scratch/err" || fail "$arguments: $(cat "$scratch/err")"
    [ ! -s "$scratch/out" ] || fail "$arguments reported $(cat "$scratch/out")"
done <<'EOF'
"--bogus" --bogus
"--silent" --silent DIR
"--verbose" -s DIR --verbose
"DIR" DIR
-s -s
--uninstall --uninstall
"now" --help now
"--list" -xrm *foo:bar --list
-display -display
EOF
[ "$(ls -A "$work")" = "" ] || fail "something was written: $(ls -A "$work")"

begin "a report that can not be written is a failure"
for option in --help --info --list; do
    run_in "$work" sh -c '"$0" "$1" >/dev/full' "$sample" "$option"
    expect_status 1
    expect_err "Can not write the report: No space left on device"$'\n'
    python3 -c 'import os, subprocess, sys
r, w = os.pipe()
os.close(r)
sys.exit(subprocess.run(sys.argv[1:], stdout=w, stderr=subprocess.DEVNULL).returncode)' \
        "$sample" "$option"
    status=$?
    expect_status 1
done

begin "other command lines without a display or a terminal end at once, reading nothing"
printf 'y\n1\n' >"$work/answers"
while read -r display arguments; do
    # shellcheck disable=SC2086  # the arguments are words, never patterns
    (
        set -f
        exec 3<"$work/answers"
        started=$(date +%s%N)
        if [ "$display" = - ]; then unset DISPLAY; else export DISPLAY=$display; fi
        HOME=$work "$sample" $arguments <&3 >"$scratch/out" 2>"$scratch/err"
        status=$?
        took=$((($(date +%s%N) - started) / 1000000))
        expect_status 1
        [ "$took" -lt 1000 ] || fail "$arguments took $took ms"
        grep -q '^pos:[[:space:]]*0$' /proc/$BASHPID/fdinfo/3 || fail "$arguments read its input"
        expect_err "Error: Can't open display: ${display#-}
To install without a display: $sample -s DIRECTORY; $sample --help tells more.
"
    )
done <<'EOF'
-
:65000
- -geometry 100x100+0+0
- -xrm *foo:bar -iconic
EOF
[ "$(ls -A "$work")" = answers ] || fail "something was written: $(ls -A "$work")"

finish

#!/bin/bash
# mkinstaller: the layout of its output, reproducibility, and refusals that
# write nothing.
. "$(dirname "$0")/lib.sh"

begin "writes the image, one gzip member and the trailer"
length=$(payload_length "$sample")
size=$(stat -c %s "$sample")
cmp -s -n "$image_size" "$INSTALLER_IMAGE" "$sample" || fail "the image is not copied unchanged"
[[ $length =~ ^[1-9][0-9]*$ ]] || fail "the length is not plain decimal digits: $length"
cmp -s <(tail -c $((${#length} + 2)) "$sample") <(printf '\n%s\n' "$length") ||
    fail "the trailer is not a newline, the length and a newline"
[ $((image_size + length + ${#length} + 2)) -eq "$size" ] || fail "the trailer's length does not fit"
[ "$(od -An -tx1 -j "$image_size" -N 4 "$sample" | tr -d ' ')" = 1f8b0804 ] ||
    fail "no gzip member of method 8 with an extra field and no stored name after the image"
payload_of "$sample" | gzip -t 2>/dev/null || fail "the member does not decompress cleanly"
[ -x "$sample" ] || fail "the output is not executable"

begin "indexes the chunks, then seals the member with what the product needs on disk"
# Behind the fixed header: the extra field's length, the subfield "Oc" with
# 20 bytes per chunk, then "Ov" with "2 BYTES ENTRIES ROOM... CRC".  gzip -dc
# reads the member above.
payload_of "$sample" | head -c 1024 >"$work/head"
field() {  # field OFFSET COUNT TYPE
    od -An "-t$3" -j "$1" -N "$2" "$work/head" | tr -d ' '
}
index_length=$(field 14 2 u2)
[ "$(field 12 2 c)" = Oc ] && [ "$index_length" -eq 20 ] || fail "no index Oc of one chunk"
seal_length=$(field $((18 + index_length)) 2 u2)
[ "$(field $((16 + index_length)) 2 c)" = Ov ] || fail "no subfield Ov behind the index"
[ "$(field 10 2 u2)" -eq $((8 + index_length + seal_length)) ] || fail "the extra field holds more"
seal=$(tail -c +$((21 + index_length)) "$work/head" | head -c "$seal_length")
bytes=$(find "$SAMPLE_PRODUCT" -type f -printf '%s\n' | awk '{ n += $1 } END { print n }')
entries=$(find "$SAMPLE_PRODUCT" -mindepth 1 | wc -l)
[[ $seal =~ ^2\ $bytes\ $entries\ ([0-9]+\ ){8}[0-9]{10}$ ]] ||
    fail "the seal $(shown "$seal") does not record $bytes bytes and $entries entries"
# The room on 4 KiB fragments: each file rounded up, a fragment per folder.
room=$(find "$SAMPLE_PRODUCT" -printf '%y %s\n' |
    awk '$1 == "f" { n += int(($2 + 4095) / 4096) * 4096 } $1 == "d" { n += 4096 } END { print n }')
[ "$(echo "$seal" | cut -d ' ' -f 7)" = "$room" ] ||
    fail "the seal $(shown "$seal") does not record $room bytes of room on 4 KiB fragments"

begin "packs chunks that gzip reads as one stream, the same bytes on one core or all, installed as one stream is"
big_sealed_installer "$work/all.run"
taskset -c 0 "$MKINSTALLER" "$INSTALLER_IMAGE" "$scratch/big-product" "$work/one.run" ||
    fail "packaging on one core failed"
cmp -s "$work/all.run" "$work/one.run" || fail "one core and all gave different bytes"
[ "$(payload_of "$work/all.run" | head -c 16 | od -An -tu2 -j 14 | tr -d ' ')" -gt 20 ] ||
    fail "test setup: the big product is packed in one chunk"
payload_of "$work/all.run" | gzip -dc | tar -xf - -C "$work" --one-top-level=unpacked ||
    fail "gzip and tar could not unpack the payload"
diff -r "$scratch/big-product" "$work/unpacked" >/dev/null || fail "gzip -dc gave another tree"
# The same archive without the index (nor the seal) installs the same tree.
unsealed_payload "$work/all.run" >"$work/plain.gz"
installer_with "$work/plain.run" "$work/plain.gz"
for road in all plain; do
    run "$work/$road.run" -s "$work/$road-dest"
    expect_status 0
    expect_same_tree "$scratch/big-product" "$work/$road-dest"
done

begin "the helper short of memory or threads fails with a message, never aborts"
short=0
for limit in 8 16 24 32 48 64 96; do
    run sh -c 'ulimit -v "$1" && shift && exec "$@"' sh $((limit * 1024)) \
        "$(dirname "$INSTALLER_IMAGE")/ovelo8-pack" "$INSTALLER_IMAGE" "$scratch/big-product" "$work/out.run"
    [ "$status" -eq 0 ] && continue
    expect_status 1
    grep -q '^mkinstaller: ' "$scratch/err" || fail "no message under $limit MiB"
    short=$((short + 1))
done
[ "$short" -gt 0 ] || fail "no limit made the helper run short"

begin "archives every member as ./ustar, top directory first and ovelo last"
payload_of "$sample" | gzip -dc >"$work/archive.tar"
[ "$(od -An -c -j 257 -N 8 "$work/archive.tar" | tr -d ' ')" = 'ustar\000' ] ||
    fail "not a ustar archive"
tar -tvf "$work/archive.tar" >"$work/listing"
[ "$(head -n 1 "$work/listing" | awk '{print $1, $2, $6}')" = "drwxr-xr-x root/root ./" ] ||
    fail "the first member is not the top directory: $(head -n 1 "$work/listing")"
[ "$(tail -n 1 "$work/listing" | awk '{print $1, $2, $6}')" = "-rwxr-xr-x root/root ./ovelo" ] ||
    fail "the last member is not ./ovelo with mode 0755: $(tail -n 1 "$work/listing")"
awk '$6 !~ /^\.\// || $2 != "root/root" { exit 1 }' "$work/listing" ||
    fail "a member's name lacks ./ or its owner is not root"
[ "$(wc -l <"$work/listing")" -eq "$(find "$SAMPLE_PRODUCT" | wc -l)" ] ||
    fail "not every file and folder of the tree is archived"

begin "archives the members in byte order of their names, between ./ and ./ovelo"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
mkdir "$work/tree/a" "$work/tree/Zed dir"
touch "$work/tree/a/x" "$work/tree/a-b" "$work/tree/.hidden" "$work/tree/ovelo.txt"
package "$work/tree" "$work/out.run"
# tar lists a folder with a slash behind its name.
payload_of "$work/out.run" | gzip -dc | tar -tf - | sed '1!s,/$,,' >"$work/members"
{
    echo ./
    (cd "$work/tree" && find . -mindepth 1 ! -path ./ovelo | LC_ALL=C sort)
    echo ./ovelo
} >"$work/expected"
cmp -s "$work/expected" "$work/members" ||
    fail "members out of order: $(diff "$work/expected" "$work/members" | head -n 6 | paste -sd ' ')"

begin "gives the same bytes for the same image and tree, and for times past SOURCE_DATE_EPOCH"
cp -a "$SAMPLE_PRODUCT" "$work/copy"
package "$work/copy" "$work/again.run"
cmp -s "$sample" "$work/again.run" || fail "two packagings differ"
SOURCE_DATE_EPOCH=1000000000 package "$SAMPLE_PRODUCT" "$work/clamped.run"
touch "$work/copy/README"
SOURCE_DATE_EPOCH=1000000000 package "$work/copy" "$work/touched.run"
cmp -s "$work/clamped.run" "$work/touched.run" || fail "a time past SOURCE_DATE_EPOCH was archived"

begin "packages the same bytes whatever CDPATH, TAR_OPTIONS and GZIP say"
mkdir -p "$work/here" "$work/elsewhere/tree"
cp -a "$SAMPLE_PRODUCT" "$work/here/tree"
(cd "$work/here" && CDPATH=$work/elsewhere TAR_OPTIONS=--exclude=README GZIP=-1 \
    "$MKINSTALLER" "$INSTALLER_IMAGE" tree out.run) || fail "refused with them set"
cmp -s "$sample" "$work/here/out.run" || fail "packaged something else with them set"

begin "refuses a tree without an executable regular file ovelo, writing nothing"
for kind in missing not-executable symlink directory; do
    rm -rf "$work/tree" "$work/out.run"
    cp -a "$SAMPLE_PRODUCT" "$work/tree"
    case $kind in
        missing) rm "$work/tree/ovelo" ;;
        not-executable) chmod 0644 "$work/tree/ovelo" ;;
        symlink) mv "$work/tree/ovelo" "$work/tree/player" && ln -s player "$work/tree/ovelo" ;;
        directory) rm "$work/tree/ovelo" && mkdir "$work/tree/ovelo" ;;
    esac
    mkdir -p "$work/tmp"
    if TMPDIR=$work/tmp "$MKINSTALLER" "$INSTALLER_IMAGE" "$work/tree" "$work/out.run" 2>"$work/err"; then
        fail "accepted a tree whose ovelo is $kind"
    fi
    grep -q 'ovelo' "$work/err" || fail "no clear message for an ovelo that is $kind"
    [ "$(entries "$work")" = "err tmp tree" ] && [ -z "$(entries "$work/tmp")" ] ||
        fail "wrote something for an ovelo that is $kind"
done

begin "packs every shape of tree that tar and the installer unpack alike, naming what it can not ship"
# Long names, a long link target, hard links, a sparse file, times before
# 1970 and after 2242, a compiled Python module; set-id bits, an extended
# attribute and an ACL, which are not shipped.
tree=$work/tree
cp -a "$SAMPLE_PRODUCT" "$tree"
long=$(printf 'n%.0s' {1..250})
deep=deep/$long/$long/$long
mkdir -p "$tree/$deep"
echo content >"$tree/$deep/$long"
ln "$tree/$deep/$long" "$tree/hard-$long"
ln -s "$deep/$long" "$tree/link"
truncate -s 64M "$tree/sparse" && echo end >>"$tree/sparse"
cp "$tree/ovelo" "$tree/setid" && chmod 6755 "$tree/setid"
touch -d 1960-03-04 "$tree/old"
touch -d 2300-01-01 "$tree/future"
setfattr -n user.origin -v build "$tree/old"
setfacl -m u:nobody:r "$tree/future"
mkdir "$tree/py" && echo 'ANSWER = 42' >"$tree/py/module.py"
python3 -m py_compile "$tree/py/module.py"
"$MKINSTALLER" "$INSTALLER_IMAGE" "$tree" "$work/out.run" 2>"$work/err" || fail "packaging failed"
cat >"$work/expected" <<'WARNINGS'
mkinstaller: warning: ./future is shipped without its ACL
mkinstaller: warning: ./old is shipped without its extended attribute user.origin
mkinstaller: warning: ./setid is shipped without its set-user-ID and set-group-ID bits
WARNINGS
diff "$work/expected" "$work/err" >/dev/null || fail "warnings: $(cat "$work/err")"
# Names, types, contents and times to the second, as each reader leaves them.
listing() {
    (cd "$1" && find . -mindepth 1 ! -name .ovelo8-manifest -printf '%p %y %l %s %TY%Tm%Td%TH%TM%TS\n' |
        sed 's/\.[0-9]*$//' | LC_ALL=C sort)
}
payload_of "$work/out.run" | gzip -dc >"$work/archive.tar"
mkdir "$work/gnu" "$work/bsd"
tar -xf "$work/archive.tar" -C "$work/gnu" 2>/dev/null || fail "GNU tar could not unpack it"
bsdtar -xf "$work/archive.tar" -C "$work/bsd" || fail "bsdtar could not unpack it"
run "$work/out.run" -s "$work/dest"
expect_status 0
expect_err ""
for reader in gnu bsd dest; do
    [ "$(listing "$tree")" = "$(listing "$work/$reader")" ] ||
        fail "$reader: $(diff <(listing "$tree") <(listing "$work/$reader") | head -n 4 | cut -c 1-120)"
    diff -r "$tree" "$work/$reader" -x .ovelo8-manifest >/dev/null || fail "$reader: other contents"
done
[ "$(stat -c %i "$work/dest/$deep/$long")" = "$(stat -c %i "$work/dest/hard-$long")" ] ||
    fail "the hard link was not made"
[ "$(stat -c %b "$work/dest/sparse")" -le 64 ] ||
    fail "the sparse file takes $(stat -c %b "$work/dest/sparse") blocks of 512 bytes"
(cd "$work/dest/py" && python3 -v -c 'import module' 2>&1) | grep -q '__pycache__/module\..*pyc matches ' ||
    fail "python3 takes the compiled module as stale"
# A later SOURCE_DATE_EPOCH brings the future time down to it.
SOURCE_DATE_EPOCH=2000000000 "$MKINSTALLER" "$INSTALLER_IMAGE" "$tree" "$work/clamped.run" 2>/dev/null
run "$work/clamped.run" -s "$work/clamped"
[ "$(stat -c %Y "$work/clamped/future")/$(stat -c %Y "$work/clamped/old")" = "2000000000/$(date -d 1960-03-04 +%s)" ] ||
    fail "times with SOURCE_DATE_EPOCH: $(stat -c %Y "$work/clamped/future" "$work/clamped/old")"

begin "fails, leaving nothing behind, on a path longer than the installer can write"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
mkdir -p "$work/tree/$(printf "$(printf 'd%.0s' {1..250})/%.0s" {1..17})"
mkdir "$work/out"
(cd "$work" && "$MKINSTALLER" "$INSTALLER_IMAGE" tree out/x.run) 2>"$work/err" &&
    fail "packaged a path of more than 4095 bytes"
grep -q '^mkinstaller: \./d.* is longer than the 4095 bytes of a path the installer can write$' "$work/err" ||
    fail "no message of its own: $(cut -c 1-200 "$work/err")"
[ -z "$(entries "$work/out")" ] || fail "left files behind"

begin "archives ./ovelo with mode 0755 whatever executable mode it has in the tree"
for mode in 0700 0775 0511; do
    rm -rf "$work/tree" "$work/dest"
    cp -a "$SAMPLE_PRODUCT" "$work/tree"
    chmod "$mode" "$work/tree/ovelo"
    package "$work/tree" "$work/out.run"
    last=$(payload_of "$work/out.run" | gzip -dc | tar -tvf - | tail -n 1 | awk '{print $1, $6}')
    [ "$last" = "-rwxr-xr-x ./ovelo" ] || fail "tree mode $mode: the last member is $last"
    (umask 022 && run "$work/out.run" -s "$work/dest" && expect_status 0)
    [ "$(stat -c %a "$work/dest/ovelo")" = 755 ] ||
        fail "tree mode $mode: installed with mode $(stat -c %a "$work/dest/ovelo")"
    [ "$(stat -c %a "$work/tree/ovelo")" = "${mode#0}" ] || fail "the tree's own ovelo was changed"
done

begin "ships modes of its own, whatever the tree's modes and the packager's umask"
# Group/other write, set-id and sticky bits never ship; a file is 0755 when
# its owner may run it, else 0644: the output is the sample's, byte for byte.
cp -a "$SAMPLE_PRODUCT" "$work/tree"
chmod -R go-rwx "$work/tree"
chmod 4755 "$work/tree/register-mime.sh"
chmod 0666 "$work/tree/README"
chmod 0655 "$work/tree/LICENSE"
chmod 1777 "$work/tree/lib"
chmod 2700 "$work/tree/help"
(umask 077 && package "$work/tree" "$work/out.run")
cmp -s "$sample" "$work/out.run" || fail "modes or umask changed the output: $(
    payload_of "$work/out.run" | gzip -dc | tar -tvf - | awk '$1 !~ /^(-rw-r--r--|-rwxr-xr-x|drwxr-xr-x)$/')"

begin "refuses FIFOs and sockets in the tree, naming them, writing nothing"
for kind in fifo socket; do
    rm -rf "$work/tree" && cp -a "$SAMPLE_PRODUCT" "$work/tree"
    if [ "$kind" = fifo ]; then
        mkfifo "$work/tree/help/$kind"
    else
        perl -MSocket -e 'socket(my $s, PF_UNIX, SOCK_STREAM, 0) or die; bind($s, pack_sockaddr_un($ARGV[0])) or die' \
            "$work/tree/help/$kind" || fail "test setup: no socket"
    fi
    "$MKINSTALLER" "$INSTALLER_IMAGE" "$work/tree" "$work/out.run" 2>"$work/err" &&
        fail "packaged a tree with a $kind"
    grep -qx "./help/$kind" "$work/err" || fail "the $kind is not named: $(cat "$work/err")"
    expect_absent "$work/out.run"
done

begin "refuses to write over its image or into the tree, writing nothing"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
cp "$INSTALLER_IMAGE" "$work/image"
ln "$work/image" "$work/image-link"
mkdir "$work/tree/sub"
ln -s "$work/tree/sub" "$work/into-tree"
before=$(tree_listing "$work/tree"; md5sum "$work/image")
for output in "$work/image" "$work/image-link" "$work/tree/ovelo" "$work/tree/sub/x.run" \
    "$work/into-tree/x.run"; do
    "$MKINSTALLER" "$work/image" "$work/tree" "$output" 2>"$work/err" && fail "wrote $output"
    grep -q '^mkinstaller: ' "$work/err" || fail "no message of its own for $output"
done
[ "$(tree_listing "$work/tree"; md5sum "$work/image")" = "$before" ] || fail "the tree or the image changed"

begin "refuses unknown options and a malformed SOURCE_DATE_EPOCH in one message of its own"
for args in "-v $INSTALLER_IMAGE $SAMPLE_PRODUCT $work/out.run" "$INSTALLER_IMAGE $SAMPLE_PRODUCT --out"; do
    # shellcheck disable=SC2086
    (cd "$work" && "$MKINSTALLER" $args 2>"$work/err") && fail "accepted '$args'"
    grep -q '^mkinstaller: unknown option ' "$work/err" || fail "no message of its own for '$args'"
done
for epoch in 1.5 -1 12ab 99999999999; do
    SOURCE_DATE_EPOCH=$epoch "$MKINSTALLER" "$INSTALLER_IMAGE" "$SAMPLE_PRODUCT" "$work/out.run" \
        2>"$work/err" && fail "accepted SOURCE_DATE_EPOCH=$epoch"
    [ "$(grep -c '^mkinstaller: SOURCE_DATE_EPOCH' "$work/err")/$(wc -l <"$work/err")" = 1/1 ] ||
        fail "SOURCE_DATE_EPOCH=$epoch: $(cat "$work/err")"
done
[ "$(entries "$work")" = err ] || fail "something was written: $(entries "$work")"

begin "leaves nothing behind when stopped by a signal"
cp -a "$SAMPLE_PRODUCT" "$work/tree"
head -c 40000000 /dev/urandom >"$work/tree/clips/large.ovl"
mkdir "$work/out"
for signal in HUP INT QUIT TERM; do
    # Started with default actions: a background job would ignore INT and QUIT.
    env --default-signal "$MKINSTALLER" "$INSTALLER_IMAGE" "$work/tree" \
        "$work/out/x.run" 2>/dev/null &
    packager=$!
    for _ in $(seq 1000); do
        [ -z "$(ls "$work/out")" ] || break
        sleep 0.01
    done
    [ -n "$(ls "$work/out")" ] || fail "$signal: test setup: no partial output seen"
    kill -s "$signal" "$packager"
    wait "$packager" && fail "$signal: finished as if not stopped"
    [ -z "$(entries "$work/out")" ] || fail "$signal: left files behind"
    pgrep -f "ovelo8-pack .*$work/tree" >/dev/null && fail "$signal: the helper goes on"
done

begin "refuses a wrong command line, a missing image or a directory as output; --help is no error"
"$MKINSTALLER" "$SAMPLE_PRODUCT" 2>"$work/err" && fail "accepted one argument"
grep -q '^usage: mkinstaller \[--product-version VERSION\] \[IMAGE\] PRODUCT_DIR OUTPUT' "$work/err" || fail "no usage shown"
"$MKINSTALLER" --help >"$work/out" 2>"$work/err" || fail "--help ended with status $?"
grep -q '^usage: mkinstaller \[--product-version VERSION\] \[IMAGE\] PRODUCT_DIR OUTPUT' "$work/out" && [ ! -s "$work/err" ] ||
    fail "--help shows no usage on standard output"
rm "$work/out" "$work/err"
"$MKINSTALLER" "$SAMPLE_PRODUCT" "$work/out.run" 2>/dev/null
status=$?
[ "$status" -eq 2 ] || fail "a copy that is not installed, given no image: status $status, not 2"
"$MKINSTALLER" "$work/no-image" "$SAMPLE_PRODUCT" "$work/out.run" 2>/dev/null &&
    fail "accepted a missing image"
expect_absent "$work/out.run"
mkdir "$work/out"
"$MKINSTALLER" "$INSTALLER_IMAGE" "$SAMPLE_PRODUCT" "$work/out" 2>/dev/null &&
    fail "accepted a directory as the output"
expect_empty_dir "$work/out"

finish

#!/bin/bash
# Archives made by other tools: every member is checked on its way to tar.
# Names outside the destination, devices, FIFOs, links to nowhere and a
# missing or unfit player are refused, saying what was found; set-id bits,
# write bits for others and foreign owners never reach the disk.
. "$(dirname "$0")/lib.sh"

# archive MEMBERS...: an unsealed installer $work/f.run whose archive
# python3's tarfile writes: each member "TYPE NAME MODE [UID] [LINK]", TYPE
# f (a file of a few bytes), d, l (symbolic link), h (hard link), c, b or p;
# or "@ OFFSET HEX", bytes written into the header before, whose checksum
# is then made right again.
archive() {
    python3 - "$@" >"$work/archive.tar" <<'PYTHON' || fail "test setup: python3 failed"
import io, sys, tarfile
types = {"f": tarfile.REGTYPE, "d": tarfile.DIRTYPE, "l": tarfile.SYMTYPE,
         "h": tarfile.LNKTYPE, "c": tarfile.CHRTYPE, "b": tarfile.BLKTYPE, "p": tarfile.FIFOTYPE}
data = b"#!/bin/sh\necho started\n"
buffer, edits = io.BytesIO(), []
with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as out:
    for member in sys.argv[1:]:
        kind, name, mode, *rest = member.split(" ")
        if kind == "@":
            edits.append((header, int(name), bytes.fromhex(mode)))
            continue
        header = out.offset
        info = tarfile.TarInfo(name)
        info.type, info.mode = types[kind], int(mode, 8)
        info.uid = info.gid = int(rest[0]) if rest else 0
        info.uname = info.gname = "nobody" if info.uid else "root"
        info.linkname = rest[1] if len(rest) > 1 else ""
        info.size = len(data) if kind == "f" else 0
        out.addfile(info, io.BytesIO(data) if kind == "f" else None)
archive = bytearray(buffer.getvalue())
for header, offset, edit in edits:
    archive[header + offset:header + offset + len(edit)] = edit
    archive[header + 148:header + 156] = b" " * 8
    archive[header + 148:header + 156] = b"%06o\0 " % sum(archive[header:header + 512])
sys.stdout.buffer.write(archive)
PYTHON
    gzip -n <"$work/archive.tar" >"$work/archive.gz"
    installer_with "$work/f.run" "$work/archive.gz"
}

player="f ./ovelo 0755"

begin "installs an unsealed archive of another tool, made safe"
archive "d ./ 0777" "d ./share 1777 1234" "f ./share/tool 6775 1234" "f ./share/data 0666" \
    "l ./share/tool-link 0777 0 tool" "h ./share/same 0644 0 ./share/data" "$player"
mkdir -m 0700 "$work/dest"
run "$work/f.run" -s "$work/dest"
expect_status 0
expect_err ""
# Owned by whoever installs: root gets root, not the archive's 1234.
(cd "$work/dest" && find . -printf "%p %y %m %U\n" | LC_ALL=C sort) >"$work/listing"
me=$(id -u)
cat >"$work/expected" <<LISTING
. d 700 $me
./.ovelo8-manifest f 644 $me
./ovelo f 755 $me
./share d 755 $me
./share/data f 644 $me
./share/same f 644 $me
./share/tool f 755 $me
./share/tool-link l 777 $me
LISTING
diff "$work/expected" "$work/listing" >&2 || fail "not made safe (differences above)"
[ "$(stat -c %i "$work/dest/share/data")" = "$(stat -c %i "$work/dest/share/same")" ] ||
    fail "the hard link was not made"

begin "unpacks a member under the name that was checked"
# Bytes behind the NUL that ends a name; the prefix area of a GNU header,
# which some tars join to the name.
archive "f ./a 0644" "@ 4 2e2e2f78" "$player" "@ 257 7573746172202000" "@ 345 737562"
run "$work/f.run" -s "$work/dest"
expect_status 0
expect_err ""
[ "$(entries "$work/dest")" = ".ovelo8-manifest a ovelo" ] || fail "unpacked $(entries "$work/dest")"

begin "refuses archives that reach outside, hold devices or lack a fit player"
while IFS='|' read -r members what; do
    IFS=';' read -ra list <<<"$members"
    archive "${list[@]}"
    rm -rf "$work/dest"
    run "$work/f.run" -s "$work/dest"
    expect_failed_run
    expect_damaged "$work/f.run" "$what"
    # Nothing at all, not even the members before the refused one.
    expect_absent "$work/dest"
    expect_absent "$work/a"
done <<CASES
f ../a 0644;$player|its archive holds a member named "../a", outside the destination
f ./a/../../a 0644;$player|its archive holds a member named "./a/../../a", outside the destination
f /a 0644;$player|its archive holds a member named "/a", outside the destination
c ./null 0666;$player|its archive holds "null", a character device
b ./disk 0660;$player|its archive holds "disk", a block device
p ./fifo 0644;$player|its archive holds "fifo", a FIFO
f ./a 0644;h ./b 0644 0 ./nowhere;$player|its archive holds a hard link "b" to no earlier member
f ./a 0644|its archive holds no player ./ovelo
f ./player 0755;l ./ovelo 0777 0 player|its player ./ovelo is not a regular file
d ./ovelo 0755|its player ./ovelo is not a regular file
f ./ovelo 0644|its player ./ovelo is not executable
l ./a 0777 0 ..;h ./player 0644 0 ./a;f ./player/a 0644;$player|its archive holds a member "player/a" below a symbolic link
f ./a/ 0644;$player|its archive holds a damaged tar header
f ./ovelo/ 0755|its archive holds a damaged tar header
f ./ovelo/. 0755|its archive holds a damaged tar header
l ./a 0777 0 x;@ 156 30;@ 124 800000008000000000000000;$player|its archive holds a damaged tar header
l ./a 0777 0 x;@ 156 30;@ 124 80000000ffffffffffffffff;$player|its archive holds a damaged tar header
CASES

finish

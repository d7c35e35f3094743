# The image needs nothing on the user's machine but the C library, libm,
# libgcc_s and the loader, and no C library newer than 2.34; it is stripped,
# at most 7 MB (the toolkit, zlib and libdeflate with our own code come to
# about 6; a library linked in by mistake, or debugging information left
# in, goes far past it), and links to its debugging information, which
# names no folder of this checkout or build (the build id hashes it: two
# builds in different folders would give different images).
source "$(dirname "$0")/lib.sh"

begin "only the C library, libm, libgcc_s and the loader are needed"
needed=$(readelf -d "$INSTALLER_IMAGE" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[ -n "$needed" ] || fail "readelf shows no NEEDED entry at all"
for library in $needed; do
    case $library in
        libc.so.6 | libm.so.6 | libgcc_s.so.1 | ld-linux-x86-64.so.2) ;;
        *) fail "the image needs $library" ;;
    esac
done

begin "no symbol of a C library newer than 2.34"
versions=$(objdump -T "$INSTALLER_IMAGE" | grep -o 'GLIBC_[0-9][0-9.]*' | sort -u -V)
[ -n "$versions" ] || fail "objdump shows no GLIBC symbol version"
newest=$(printf '%s\n' $versions GLIBC_2.34 | sort -V | tail -n 1)
[ "$newest" = GLIBC_2.34 ] ||
    fail "symbols of $newest: $(objdump -T "$INSTALLER_IMAGE" | grep -F "($newest)" | awk '{print $NF}' | tr '\n' ' ')"
if objdump -T "$INSTALLER_IMAGE" | grep -q GLIBC_PRIVATE; then
    fail "the image uses private symbols of the C library"
fi

begin "stripped, at most 7 MB, the debugging information linked"
sections=$(readelf -S "$INSTALLER_IMAGE")
case $sections in
    *.symtab* | *.debug_info*) fail "the image is not stripped" ;;
esac
case $sections in
    *.gnu_debuglink*) ;;
    *) fail "the image has no debug link" ;;
esac
[ -s "$INSTALLER_IMAGE.debug" ] || fail "no $INSTALLER_IMAGE.debug beside the image"
[ "$image_size" -le 7000000 ] || fail "the image has $image_size bytes"

begin "neither the image nor its debugging information names the checkout or the build folder"
build_dir=$(cd "$(dirname "$INSTALLER_IMAGE")/.." && pwd)
source_dir=$(cd "$SAMPLE_PRODUCT/../.." && pwd)
for file in "$INSTALLER_IMAGE" "$INSTALLER_IMAGE.debug"; do
    for folder in "$build_dir" "$source_dir"; do
        ! grep -q -a -F "$folder" "$file" || fail "$file holds $folder"
    done
done

finish

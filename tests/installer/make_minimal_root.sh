#!/bin/sh
# Makes ROOT a system barer than a fresh server's: the loader, the C
# library, libm and libgcc_s, and dash as sh for the sample's player, all
# copied from this machine, and an empty /tmp.  No tar, no gzip, no Motif,
# no X library, no font, no locale file.
set -eu

usage() {
    echo "usage: make_minimal_root.sh ROOT" >&2
    exit 2
}

[ "$#" -eq 1 ] || usage
root=$1
mkdir -p "$root"

# copy PATH: the file PATH points to, at the same place under the root.
copy() {
    mkdir -p "$root$(dirname "$1")"
    cp -L "$1" "$root$1"
}

# The libraries a program loads, by the paths the loader finds them at.
libraries_of() {
    ldd "$1" 2>/dev/null | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'
}

# A merged /usr links /bin, /lib... into it; the root does the same.
for top in bin sbin lib lib64; do
    if [ -L "/$top" ]; then
        target=$(readlink "/$top")
        mkdir -p "$root/$target"
        ln -s "$target" "$root/$top"
    fi
done

for program in dash; do
    path=$(command -v "$program")
    copy "$path"
    libraries_of "$path" | while read -r library; do
        copy "$library"
    done
done
ln -s dash "$root$(dirname "$(command -v dash)")/sh"

libc_dir=$(dirname "$(libraries_of "$(command -v dash)" | grep '/libc\.so\.6$')")
copy "$libc_dir/libm.so.6"
copy "$libc_dir/libgcc_s.so.1"
mkdir -p -m 1777 "$root/tmp"

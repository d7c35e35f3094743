#!/bin/sh
# `make demo`: runs the sample product's installer, BUILD/ovelo8-installer.run
# (packaged by the build): the wizard when an X display answers, otherwise a
# silent installation into BUILD/demo-install, then shows what was installed.
set -eu
unset CDPATH  # cd would print the directory it found

usage() {
    echo "usage: demo.sh [BUILD_DIR]" >&2
    exit 2
}

case "${1:-}" in
    -h | --help) usage ;;
esac
[ "$#" -le 1 ] || usage
build=$(cd "${1:-build}" && pwd)
installer=$build/ovelo8-installer.run
if [ ! -x "$installer" ]; then
    echo "demo: $installer is missing; build first (make build)" >&2
    exit 1
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "demo: display $DISPLAY answers: starting the wizard" >&2
    exec "$installer"
fi

dest=$build/demo-install
rm -rf "$dest"
echo "demo: no display: installing silently into $dest" >&2
"$installer" -s "$dest"
echo "Installed into $dest:"
(cd "$dest" && find . -exec ls -ld {} + | sort -k 9)
echo "The player, started as the wizard would start it:"
(cd "$dest" && "$dest/ovelo" inst)

#!/bin/sh
# Installs what building, packaging and testing need on a Debian machine
# (the -dev packages also bring the static archives linked into the image;
# the fonts are for the tests: Helvetica's equivalent, Greek and Cyrillic
# beyond it, and Chinese for fontconfig to fall back on; python3-pyte is
# the terminal emulator the terminal wizard's pager is tested on).
# Runs apt-get only when something is missing, so repeated runs are quick.
set -eu

packages="
  build-essential cmake pkg-config
  libmotif-dev libxt-dev libx11-dev libxext-dev libxpm-dev libxtst-dev libpng-dev
  libxmu-dev libsm-dev libice-dev libxft-dev libxrender-dev libxcb1-dev libxau-dev
  libxdmcp-dev libfontconfig-dev libfreetype-dev libjpeg62-turbo-dev libexpat1-dev
  libbrotli-dev zlib1g-dev libdeflate-dev
  libgtest-dev
  xvfb xauth xdotool x11-utils x11-apps
  xfonts-base xfonts-75dpi xfonts-100dpi
  fonts-liberation fonts-dejavu-core fonts-wqy-microhei
  gzip tar util-linux openssl dash man-db groff-base
  libarchive-tools attr acl
  python3 python3-pyte ansible-core
"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages:$missing (run as root to install them)" >&2
    exit 1
fi
echo "install-deps: installing$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null

# The packaged sample in a minimal root (no Motif, no X library, no font, no
# locale file): the silent installation works there.
source "$(dirname "$0")/lib.sh"
require_root chroot
chroot=$(command -v chroot)

begin "silent installation in a minimal root"
root=$work/root
sh "$(dirname "$0")/make_minimal_root.sh" "$root" || fail "could not make the root"
cp "$sample" "$root/ovelo8.run"
mkdir "$root/opt"
run env -i PATH=/usr/bin:/bin "$chroot" "$root" /ovelo8.run -s /opt/Ovelo8
expect_status 0
expect_err ""
expect_out_empty
expect_same_tree "$SAMPLE_PRODUCT" "$root/opt/Ovelo8"

finish

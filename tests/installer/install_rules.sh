# cmake --install into a fresh prefix: the installed mkinstaller packages
# with the image and the helper installed beside it, tells its version,
# and the manual pages render without a warning.  From CTest: BUILD_DIR and VERSION.
source "$(dirname "$0")/lib.sh"
: "${BUILD_DIR:?}" "${VERSION:?}"

prefix=$scratch/prefix
cmake --install "$BUILD_DIR" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; finish; }

begin "the installed two-argument mkinstaller packages with the installed image"
cmp -s "$INSTALLER_IMAGE" "$prefix/libexec/ovelo8/ovelo8-installer" ||
    fail "the installed image is not the stripped image of the build"
[ -x "$prefix/libexec/ovelo8/ovelo8-pack" ] || fail "the helper ovelo8-pack is not installed"
PATH=$prefix/bin:$PATH mkinstaller "$SAMPLE_PRODUCT" "$work/ovelo8.run" ||
    fail "packaging failed"
cmp -s -n "$image_size" "$INSTALLER_IMAGE" "$work/ovelo8.run" ||
    fail "the file does not begin with the installed image"
run "$work/ovelo8.run" -s "$work/dest"
expect_status 0
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "reached through a link in another folder, it finds the installed image"
mkdir "$work/bin"
ln -s "$prefix/bin/mkinstaller" "$work/bin/mkinstaller"
"$work/bin/mkinstaller" "$SAMPLE_PRODUCT" "$work/ovelo8.run" ||
    fail "packaging through the link failed"
cmp -s -n "$image_size" "$INSTALLER_IMAGE" "$work/ovelo8.run" ||
    fail "the file does not begin with the installed image"

begin "the version, the manual pages and the notices"
[ "$("$prefix/bin/mkinstaller" --version)" = "mkinstaller (Ovelo 8 installer) $VERSION" ] ||
    fail "--version printed $("$prefix/bin/mkinstaller" --version)"
for page in mkinstaller ovelo8-installer ovelo8-pack; do
    file=$prefix/share/man/man1/$page.1
    grep -q "Ovelo 8 installer $VERSION" "$file" || fail "$page.1 does not name the version"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done
for doc in README.md LICENSE THIRD_PARTY_NOTICES LICENSES/LGPL-2.1.txt; do
    [ -s "$prefix/share/doc/ovelo8/$doc" ] || fail "share/doc/ovelo8/$doc is missing"
done

finish

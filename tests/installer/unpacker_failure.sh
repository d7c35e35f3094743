#!/bin/bash
# tar killed part way, ending early or missing: reported as a failed
# installation, after tar's own diagnostics, never as success
# and never as a death by broken pipe.
. "$(dirname "$0")/lib.sh"

# A product with 8 MiB that do not compress: more than the pipe holds.
# Unsealed, so that no free-space check stops it before tar runs.
big_product=$scratch/big-product
cp -a "$SAMPLE_PRODUCT" "$big_product"
head -c $((8 * 1024 * 1024)) /dev/urandom >"$big_product/clips/noise.ovl"
package "$big_product" "$scratch/sealed.run"
unsealed_payload "$scratch/sealed.run" >"$scratch/big.gz"
big=$scratch/big.run
installer_with "$big" "$scratch/big.gz"

begin "fails when tar is killed part way through the payload"
# A file size limit kills tar in the middle of the big file; the
# installer's own writes then meet a closed pipe.
(ulimit -f 256 && run "$big" -s "$work/dest" && expect_failed_run &&
    expect_err_ends "$unpack_failed")
expect_absent "$work/dest/ovelo"

begin "fails when tar ends well without reading the whole archive"
mkdir "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/tar"
chmod 0755 "$work/bin/tar"
PATH=$work/bin:$PATH run "$big" -s "$work/dest"
expect_failed_run
expect_err "$unpack_failed"
expect_absent "$work/dest/ovelo"

begin "says so when there is no tar to start"
mkdir "$work/empty"
PATH=$work/empty run "$sample" -s "$work/dest"
expect_failed_run
expect_err $'Can not start tar: No such file or directory\n'
expect_empty_dir "$work/dest"

finish

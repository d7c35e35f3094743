#!/bin/bash
# The unpacker failing part way (killed, or ending early): reported as a failed
# installation, after tar's and gunzip's own diagnostics, never as success
# and never as a death by broken pipe.
. "$(dirname "$0")/lib.sh"

# A product with 8 MiB that do not compress: more than the pipe holds.
big_product=$scratch/big-product
cp -a "$SAMPLE_PRODUCT" "$big_product"
head -c $((8 * 1024 * 1024)) /dev/urandom >"$big_product/clips/noise.ovl"
big=$scratch/big.run
package "$big_product" "$big"

begin "fails when tar is killed part way through the payload"
# A file size limit kills tar in the middle of the big file; gunzip then
# dies writing to it and the installer's own writes meet a closed pipe.
(ulimit -f 256 && run "$big" -s "$work/dest" && expect_failed_run &&
    expect_err_ends "$unpack_failed")
expect_absent "$work/dest/ovelo"

begin "fails when the unpacker ends well without reading the whole payload"
# A stand-in gunzip that reads nothing and hands tar an empty archive: both
# end with status 0, yet the installer's writes met a closed pipe.
mkdir "$work/bin"
printf '#!/bin/sh\nhead -c 10240 /dev/zero\n' >"$work/bin/gunzip"
chmod 0755 "$work/bin/gunzip"
PATH=$work/bin:$PATH run "$big" -s "$work/dest"
expect_failed_run
expect_err "$unpack_failed"
expect_absent "$work/dest/ovelo"

finish

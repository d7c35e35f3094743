#!/bin/bash
# tar killed part way, ending early or missing: reported as a failed
# installation, after tar's own diagnostics, never as success
# and never as a death by broken pipe.
. "$(dirname "$0")/lib.sh"

big=$scratch/big.run
big_unsealed_installer "$big"

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

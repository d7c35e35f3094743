#!/bin/bash
# Writing stopped part way by a limit of the system's: reported as a failed
# installation that changed nothing, never as success and never as a death
# by the limit's signal.
. "$(dirname "$0")/lib.sh"

big=$scratch/big.run
big_unsealed_installer "$big"

begin "fails, leaving nothing behind, when a file size limit stops a write"
(ulimit -f 256 && run "$big" -s "$work/dest" && expect_failed_run &&
    expect_err_ends "$unpack_failed")
grep -q '^Can not write clips/noise.ovl: File too large$' "$scratch/err" ||
    fail "the file that could not be written is not named: $(cat "$scratch/err")"
expect_absent "$work/dest"
[ "$(ls -A "$work")" = .home ] || fail "left behind: $(ls -A "$work")"

finish

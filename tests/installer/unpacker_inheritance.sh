#!/bin/bash
# What the installer is started with: it runs no other program to install
# (no tar, no gunzip, no shell), and neither TAR_OPTIONS nor GZIP matters.
# An ignored SIGCHLD, a closed standard descriptor or a low limit of
# descriptors left by whoever started the installer does not spoil a sound
# installation.
. "$(dirname "$0")/lib.sh"

# Stand-ins, first in the search path, that note being run.
spies=$scratch/spies
mkdir -p "$spies/bin"
for command in tar gunzip gzip sh bash; do
    printf '#!/bin/sh\necho ran >>"%s/%s"\nexit 1\n' "$spies" "$command" >"$spies/bin/$command"
    chmod 0755 "$spies/bin/$command"
done

# Runs a command with the standard descriptors only.
only_standard_descriptors() {
    perl -MPOSIX -e 'POSIX::close($_) for 3 .. 65535; exec @ARGV or exit 127' "$@"
}

begin "runs no other program, and installs with no PATH at all"
PATH=$spies/bin:$PATH run only_standard_descriptors "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
[ -z "$(ls "$spies" | grep -v bin)" ] || fail "programs were run: $(ls "$spies")"
rm -rf "$work/dest"
run env -i PATH=/nonexistent TAR_OPTIONS=--to-stdout GZIP=-l "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "leaves an existing destination's own mode alone"
mkdir -m 0750 "$work/shared"
run "$sample" -s "$work/shared"
expect_status 0
expect_err ""
diff -r -x .ovelo8-manifest "$SAMPLE_PRODUCT" "$work/shared" >/dev/null || fail "contents differ"
[ "$(stat -c %a "$work/shared")" = 750 ] || fail "the destination became $(stat -c %a "$work/shared")"

begin "an ignored SIGCHLD does not turn a sound installation into a failure"
run perl -e '$SIG{CHLD} = "IGNORE"; exec @ARGV or exit 127' "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "installs with a standard descriptor closed"
for fd in 0 1 2; do
    rm -rf "$work/dest"
    run bash -c 'exec "$@" '"$fd"'>&-' bash "$sample" -s "$work/dest"
    expect_status 0
    expect_err ""
    expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
done

begin "installs with no more than 8 descriptors"
(ulimit -n 8 && run "$sample" -s "$work/dest")
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

finish

#!/bin/bash
# What the installer is started with and what it hands on: tar, started
# without a shell or gunzip, gets no descriptor besides the standard ones,
# the default action on a broken pipe and no TAR_OPTIONS or GZIP; any tar
# will do.  An ignored SIGCHLD, a closed standard descriptor or a low limit
# of descriptors left by whoever started the installer does not spoil a
# sound installation.
. "$(dirname "$0")/lib.sh"

# spy COMMAND: a stand-in, first in the search path, that notes in
# $spies/COMMAND the descriptors it was given (ls's own directory descriptor,
# the lowest free one, shows as well), its mask of ignored signals and the
# program that started it, then hands over to the real command.
spies=$scratch/spies
mkdir -p "$spies/bin"
spy() {
    cat >"$spies/bin/$1" <<SPY
#!/bin/sh
{ ls /proc/self/fd | sort -n | paste -sd ' '; sed -n 's/^SigIgn:\t//p' /proc/self/status
  readlink "/proc/\$PPID/exe"; } >"$spies/$1"
PATH='$PATH' exec $1 "\$@"
SPY
    chmod 0755 "$spies/bin/$1"
}
spy gunzip
spy tar

# Runs a command with the standard descriptors only.
only_standard_descriptors() {
    perl -MPOSIX -e 'POSIX::close($_) for 3 .. 65535; exec @ARGV or exit 127' "$@"
}

begin "tar alone is run, with no descriptor of the installer's and a default SIGPIPE"
PATH=$spies/bin:$PATH run only_standard_descriptors "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
{ read -r given && read -r ignored && read -r parent; } <"$spies/tar" || fail "tar was not run"
[ "$given" = "0 1 2 3" ] || fail "tar was given descriptors $given, expected 0 1 2 (and 3 of ls)"
(((16#${ignored:-0} & (1 << (13 - 1))) == 0)) || fail "tar starts with SIGPIPE ignored"
[ "$parent" = "$sample" ] || fail "tar was started by $parent, not by the installer itself"
expect_absent "$spies/gunzip"

begin "TAR_OPTIONS and GZIP in the environment change nothing"
for variable in TAR_OPTIONS=--to-stdout 'TAR_OPTIONS=--exclude=*' GZIP=-l; do
    rm -rf "$work/dest"
    run env "$variable" "$sample" -s "$work/dest"
    expect_status 0
    expect_err ""
    expect_out_empty
    expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
done

begin "installs with bsdtar and with busybox tar, leaving an existing destination alone"
for tar in bsdtar "busybox tar"; do
    command -v "${tar%% *}" >/dev/null || { fail "$tar is not installed"; continue; }
    rm -rf "$work/bin" "$work/shared"
    mkdir "$work/bin"
    printf '#!/bin/sh\nexec %s "$@"\n' "$tar" >"$work/bin/tar"
    chmod 0755 "$work/bin/tar"
    mkdir -m 0750 "$work/shared"
    PATH=$work/bin:$PATH run "$sample" -s "$work/shared"
    expect_status 0
    expect_err ""
    diff -r "$SAMPLE_PRODUCT" "$work/shared" >/dev/null || fail "$tar: contents differ"
    [ -x "$work/shared/ovelo" ] || fail "$tar: the player is not executable"
    [ "$(stat -c %a "$work/shared")" = 750 ] ||
        fail "$tar: the destination became $(stat -c %a "$work/shared")"
done

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

#!/bin/bash
# What the installer is started with and what it hands on: gunzip and tar
# get no descriptor besides the standard ones, and the default action on a
# broken pipe; an ignored SIGCHLD or a closed standard descriptor left by
# whoever started the installer does not spoil a sound installation.
. "$(dirname "$0")/lib.sh"

# spy COMMAND: a stand-in, first in the search path, that notes in
# $spies/COMMAND the descriptors it was given (ls's own directory descriptor,
# the lowest free one, shows as well) and its mask of ignored signals, then
# hands over to the real command.
spies=$scratch/spies
mkdir -p "$spies/bin"
spy() {
    cat >"$spies/bin/$1" <<SPY
#!/bin/sh
{ ls /proc/self/fd | sort -n | paste -sd ' '; sed -n 's/^SigIgn:\t//p' /proc/self/status; } >"$spies/$1"
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

begin "gunzip and tar get no descriptor of the installer's and a default SIGPIPE"
PATH=$spies/bin:$PATH run only_standard_descriptors "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
for command in gunzip tar; do
    { read -r given && read -r ignored; } <"$spies/$command" || fail "$command was not run"
    [ "$given" = "0 1 2 3" ] || fail "$command was given descriptors $given, expected 0 1 2 (and 3 of ls)"
    (((16#${ignored:-0} & (1 << (13 - 1))) == 0)) || fail "$command starts with SIGPIPE ignored"
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

finish

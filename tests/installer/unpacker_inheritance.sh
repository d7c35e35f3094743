#!/bin/bash
# What gunzip and tar are handed: the descriptors the installer itself was
# started with and nothing of its own, and the default action on a broken
# pipe.  And a SIGCHLD ignored by whoever started the installer must not
# hide the unpacker's status from it.
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

begin "gunzip and tar get no descriptor of the installer's and a default SIGPIPE"
run sh -c "ls /proc/self/fd | sort -n | paste -sd ' '"
descriptors=$(cat "$scratch/out")
PATH=$spies/bin:$PATH run "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
for command in gunzip tar; do
    { read -r given && read -r ignored; } <"$spies/$command" || fail "$command was not run"
    [ "$given" = "$descriptors" ] ||
        fail "$command was given descriptors $given, expected $descriptors"
    (((16#${ignored:-0} & (1 << (13 - 1))) == 0)) || fail "$command starts with SIGPIPE ignored"
done

begin "an ignored SIGCHLD does not turn a sound installation into a failure"
run perl -e '$SIG{CHLD} = "IGNORE"; exec @ARGV or exit 127' "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

finish

#!/bin/bash
# The wizard in a terminal (--text, or wherever no display can be opened),
# driven through a pseudo-terminal as a user would answer it, or fed from a
# file: the licence a screenful at a time, the destinations numbered, the
# window's checks and messages, the progress line, then the settings file
# and the player; and the progress line of a silent installation run from a
# terminal.
. "$(dirname "$0")/lib.sh"

driver=$(dirname "$0")/pty_drive.py
licence=$(dirname "$0")/../../assets/licence.txt
licence_question='Do you accept the licence? [y/N]'
# Large enough to be unpacking for a while; unsealed, so that it gets that far.
big_unsealed_installer "$scratch/big.run"

# drive ROWS COMMAND...: runs COMMAND on a terminal of ROWS rows, in the
# case's folder with HOME its empty home, answering as standard input says
# (pty_drive.py, run by Debian's python3, which has the terminal emulator
# pyte); sets $status, $elapsed (ms from the last answer to the end) and
# $screen (what the terminal showed).
drive() {
    local rows=$1 result
    shift
    mkdir -p "$work/.home"
    result=$(cd "$work" && HOME=$work/.home /usr/bin/python3 "$driver" "$scratch/screen" "$rows" "$@")
    read -r status elapsed <<<"${result:-driver-failed -}"
    screen=$(cat "$scratch/screen")
}

expect_screen_line() {
    grep -qxF -- "$1" <<<"$screen" || fail "the terminal did not show the line $(shown "$1"): $screen"
}

expect_nothing_written() {
    [ "$(ls -A "$work")" = .home ] && [ -z "$(ls -A "$work/.home")" ] ||
        fail "something was written: $(find "$work" -mindepth 1)"
}

expect_player_started_in() {
    expect_screen_line "argv0: $1/ovelo"
    expect_screen_line "args: inst"
    expect_same_tree "$SAMPLE_PRODUCT" "$1"
    [ "$(stat -c %a "$work/.home/.Quorvex_ZembraSDK_60")" = 644 ] ||
        fail "no settings file of mode 644 (the umask)"
}

begin "pages the licence by the terminal's height, then installs into a typed UTF-8 name"
destination=$work/Zielordner-ä-✓
drive 10 "$sample" --text <<EOF
expect -- Enter or space: more; q: to the question --
send \x20
expect -- Enter or space: more; q: to the question --
send q
expect $licence_question
send YES\n
expect Destination [1]:
send $destination\n
expect pid:
EOF
expect_status 0
# Two screenfuls of 9 rows, each prompt drawn over by what follows it.
[ "$(head -n 18 <<<"$screen")" = "$(head -n 18 "$licence")" ] || fail "the licence is not paged"
[ "$(sed -n 19p <<<"$screen")" = "$licence_question YES" ] ||
    fail "row 19 is not the question: $(sed -n 19p <<<"$screen")"
expect_screen_line "Installing... 100% ($(payload_length "$sample") of $(payload_length "$sample") bytes)"
expect_player_started_in "$destination"

# The licence's lines, up to the last one read, that were on none of the
# screens a user read, whole (one wider than the screen as the rows it
# wraps into, one under the other); and every screen that shows more of
# the pager's prompt than the one it waits at, in its last rows.
unread_licence() {
    /usr/bin/python3 - "$licence" "$scratch/screen.screens" <<'PYTHON'
import sys
prompt = "-- Enter or space: more; q: to the question --"
looks = []
for look in open(sys.argv[2]).read().split("\n\f\n")[:-1]:
    columns, *rows = look.split("\n")
    looks.append((int(columns), rows))
def wrapped(line, columns):
    return [line[at:at + columns].rstrip() for at in range(0, len(line), columns)]
def shows(line, columns, rows):
    pieces = wrapped(line, columns)
    return any(rows[at:at + len(pieces)] == pieces for at in range(len(rows)))
lines = [line for line in open(sys.argv[1]).read().splitlines() if line]
read = [any(shows(line, columns, rows) for columns, rows in looks) for line in lines]
last = max((at for at, seen in enumerate(read) if seen), default=-1)
for at in range(last):
    if not read[at]:
        print("unread:", lines[at])
if last < 60:  # the narrow pages were reached
    print("only %d lines read" % (last + 1))
for columns, rows in looks:
    while rows and not rows[-1]:
        rows.pop()
    waiting = wrapped(prompt, columns)
    if rows[-len(waiting):] == waiting:
        del rows[-len(waiting):]
    if any(part in row for row in rows for part in ("-- Enter", "q: to the", "question --")):
        print("prompt left on the screen:", *rows, sep="\n")
PYTHON
}

begin "pages the licence however the terminal is resized: every line read, no prompt left"
# Smaller while a page waits, then narrower than the licence's lines (the
# prompt on two rows), and left there.
more='-- Enter or space: more; q: to the question --'
pages() {
    for _ in $(seq "$1"); do printf 'send \\x20\nexpect %s\n' "$more"; done
}
drive 24 "$sample" --text < <(
    echo "expect $more"
    pages 1
    echo "resize 12 40"
    echo "expect $more"
    pages 3
    echo "resize 8 30"
    echo "expect $more"
    pages 12
    echo "send q"
    echo "expect $licence_question"
    echo 'send n\n'
)
expect_status 0
unread=$(unread_licence)
[ -z "$unread" ] || fail "$unread"

begin "no display and a terminal: the wizard goes on there; refusing writes nothing"
for answer in 'n\n' '\x04' 'yess\n'; do
    drive 24 "$sample" <<EOF
expect No X display could be opened; the installation continues in the terminal.
send q
expect $licence_question
send $answer
EOF
    expect_status 0
    grep -qF "Destination" <<<"$screen" && fail "went on after the answer $answer"
done
expect_nothing_written

begin "end of input and Ctrl-C at the destination write nothing"
for key in '\x04:0' '\x03:130'; do
    drive 24 "$sample" --text <<EOF
send q
expect $licence_question
send y\n
expect Destination [1]:
send ${key%:*}
EOF
    expect_status "${key#*:}"
    [ "$elapsed" != - ] && [ "$elapsed" -lt 1000 ] || fail "ended $elapsed ms after ${key%:*}"
done
expect_nothing_written

begin "a failed check or a number that is no choice asks again"
drive 24 "$sample" --text <<EOF
send q
expect $licence_question
send y\n
expect Destination [1]:
send $work/missing/dest\n
expect Can not make directory $work/missing/dest
expect Destination [1]:
send 4\n
expect There is no choice 4; type ./4 for a folder of that name.
expect Destination [1]:
send 0\n
expect There is no choice 0; type ./0 for a folder of that name.
expect Destination [1]:
send 18446744073709551617\n
expect There is no choice 18446744073709551617; type ./18446744073709551617 for a folder of that name.
expect Destination [1]:
send $work/dest\n
expect pid:
EOF
expect_status 0
expect_absent "$work/4"
expect_player_started_in "$work/dest"

begin "Enter takes the first choice the window would offer"
# Root may write into /usr/local, the first choice then: nobody installs.
as=()
if [ "$(id -u)" -eq 0 ]; then
    as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    mkdir -p "$work/.home"
    chown 65534:65534 "$work" "$work/.home"
fi
if [ ${#as[@]} -eq 0 ] && [ -w /usr/local ]; then
    echo "SKIPPED: [$case_name] /usr/local would be the first choice" >&2
else
    drive 24 "${as[@]}" "$sample" --text <<EOF
send q
expect $licence_question
send y\n
expect 1) $work/.home/Ovelo8
expect 2) /usr/local/Ovelo8
expect 3) /opt/Ovelo8
expect Destination [1]:
send \n
expect pid:
EOF
    expect_status 0
    expect_player_started_in "$work/.home/Ovelo8"
fi

begin "Ctrl-C while unpacking puts everything back and ends with 130"
# Slowed writes keep the unpacking going while Ctrl-C is typed.
LD_PRELOAD=$WRITE_FAULT OVELO8_WRITE_FAULT=pause:20000 drive 24 "$scratch/big.run" --text <<EOF
send q
expect $licence_question
send y\n
expect Destination [1]:
send $work/dest\n
expect Installing...
send \x03
EOF
expect_status 130
[ "$elapsed" != - ] && [ "$elapsed" -lt 1000 ] || fail "ended $elapsed ms after Ctrl-C"
! grep -qF "Installing... 100%" <<<"$screen" || fail "unpacking went on after Ctrl-C"
expect_absent "$work/dest"
[ -z "$(find "$work" -maxdepth 1 -name '.ovelo8-*')" ] || fail "a hidden folder was left"
expect_absent "$work/.home/.Quorvex_ZembraSDK_60"

begin "--text takes its answers from a file too, the licence unpaged, names escaped"
# A terminal's escapes in the home folder (a choice) and in an answer are
# shown, never sent to the terminal.
home=$work/$'h\033[2J'
mkdir "$home"
printf 'y\n%s\n%s\n' "$work/missing/"$'\033]0;T\007' "$work/dest" >"$work/answers"
(cd "$work" && HOME=$home "$sample" --text <answers >"$scratch/out" 2>"$scratch/err")
status=$?
expect_status 0
grep -qxF "Destination [1]: $work/dest" "$scratch/out" || fail "the answer is not shown"
grep -qxF "Destination [1]: $work/missing/\\033]0;T\\007" "$scratch/out" ||
    fail "the answer is not shown escaped"
grep -qF ") $work/h\\033[2J/Ovelo8" "$scratch/out" || fail "the home choice is not shown escaped"
! grep -q $'\033' "$scratch/out" "$scratch/err" || fail "an escape reached the terminal"
grep -qxF "args: inst" "$scratch/out" || fail "the player was not started"
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "standard output a file, input a terminal: the wizard talks on the terminal"
drive 24 sh -c 'exec "$0" --text >"$1"' "$sample" "$scratch/out" <<EOF
expect -- Enter or space: more; q: to the question --
send q
expect $licence_question
send y\n
expect Destination [1]:
send $work/dest\n
EOF
expect_status 0
expect_screen_line "Installing... 100% ($(payload_length "$sample") of $(payload_length "$sample") bytes)"
# The file holds what the player printed, nothing of the wizard's.
grep -vE '^(argv0|args|cwd|pid): ' "$scratch/out" && fail "the wizard wrote to standard output"
grep -qxF "args: inst" "$scratch/out" || fail "the player was not started"

begin "progress into a pipe: a whole line each tenth of the way, no carriage return"
printf 'y\n%s\n' "$work/dest" >"$work/answers"
mkdir -p "$work/.home"
(cd "$work" && HOME=$work/.home "$scratch/big.run" --text <answers 2>"$scratch/err" |
    cat >"$scratch/out"; exit "${PIPESTATUS[0]}")
status=$?
expect_status 0
total=$(payload_length "$scratch/big.run")
! grep -q $'\r' "$scratch/out" || fail "a carriage return in the pipe"
grep '^Installing' "$scratch/out" | awk -v last="Installing... 100% ($total of $total bytes)" '
    !/^Installing\.\.\. [0-9]+% \([0-9]+ of [0-9]+ bytes\)$/ || int($2 / 10) <= tenth { bad = 1 }
    { tenth = int($2 / 10); lines++ }
    END { exit bad || lines < 2 || $0 != last }' || fail "progress lines: $(grep '^Installing' "$scratch/out")"

begin "an answer that never ends its line ends like the input, nothing written"
mkdir -p "$work/.home"
(printf 'y\n'; cat /dev/zero) | (cd "$work" && HOME=$work/.home timeout 20 "$sample" --text \
    >/dev/null 2>"$scratch/err")
status=$?
expect_status 0
expect_nothing_written

begin "a settings file that can not be made durable is named, and the player starts"
printf 'y\n%s\n' "$work/dest" >"$work/answers"
mkdir -p "$work/.home"
(cd "$work" && HOME=$work/.home LD_PRELOAD=$WRITE_FAULT OVELO8_WRITE_FAULT=fsync:fail \
    "$sample" --text <answers >"$scratch/out" 2>"$scratch/err")
status=$?
expect_status 0
expect_err "The settings file $work/.home/.Quorvex_ZembraSDK_60 was not written: Input/output \
error."$'\n'
grep -qxF "args: inst" "$scratch/out" || fail "the player was not started"
expect_empty_dir "$work/.home"

begin "a signal as the product goes in place or the settings file is written: no player"
printf 'y\n%s\n' "$work/dest" >"$work/answers"
mkdir -p "$work/.home"
for rename in 1 2; do  # the destination into place, then the settings file
    (cd "$work" && HOME=$work/.home LD_PRELOAD=$WRITE_FAULT OVELO8_WRITE_FAULT=rename:$rename:15 \
        "$sample" --text <answers >"$scratch/out" 2>"$scratch/err")
    status=$?
    expect_status 143
    ! grep -q "^args: " "$scratch/out" || fail "the player was started (rename $rename)"
    expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
    rm -rf "$work/dest" "$work/.home/.Quorvex_ZembraSDK_60"
done

begin "a destination swapped for another folder before the player starts: no player, status 1"
printf 'y\n%s\n' "$work/dest" >"$work/answers"
(cd "$work" && HOME=$work/.home LD_PRELOAD=$WRITE_FAULT OVELO8_WRITE_FAULT=swap:1 \
    "$sample" --text <answers >"$scratch/out" 2>"$scratch/err")
status=$?
expect_status 1
expect_err "The destination $work/dest was replaced by another folder or a link after the \
installation; the player was not started."$'\n'

begin "a silent installation shows its progress on a terminal, erased before a message"
drive 24 "$sample" -s "$work/dest" </dev/null
expect_status 0
expect_screen_line "Installing... 100% ($(payload_length "$sample") of $(payload_length "$sample") bytes)"
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
cp "$scratch/big.run" "$work/late-damage.run"
flip_byte "$work/late-damage.run" $((image_size + $(payload_length "$work/late-damage.run") - 4096))
drive 24 "$work/late-damage.run" -s "$work/dest2" </dev/null
expect_status 1
grep -q '^The installer file .* is damaged: ' <<<"$screen" ||
    fail "the message does not start a line of its own: $screen"

finish

#!/bin/bash
# Silent installation into destinations of every kind: the tree arrives
# whole and verbatim, or the run stops with its message and exit status 1.
. "$(dirname "$0")/lib.sh"

begin "installs the whole tree silently, modes included"
run "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_out_empty
expect_no_settings
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "installs into an existing empty directory and leaves no test file"
mkdir "$work/dest"
# Root's tar keeps the archived modes whatever the umask; anybody else's
# takes the umask off them.
mask=$(umask)
[ "$(id -u)" -ne 0 ] || mask=027
(umask "$mask" && run "$sample" -s "$work/dest" && expect_status 0 && expect_err "")
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"
expect_absent "$work/dest/test"

begin "takes a relative destination from the current directory"
mkdir -p "$work/cwd/parent"
run_in "$work/cwd" "$sample" -s parent/dest
expect_status 0
expect_same_tree "$SAMPLE_PRODUCT" "$work/cwd/parent/dest"

begin "creates a destination named with shell characters verbatim"
odd=$'spaces and "double" \'single\' $(touch pwned) `touch pwned` * ; x\nnewline'
run_in "$work" "$sample" -s "$odd"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/$odd"
expect_absent "$work/pwned"
expect_absent "$work/$odd/pwned"

begin "installs into a destination path of 4,000 bytes"
long=$work
while [ ${#long} -lt 3790 ]; do long=$long/$(printf 'd%.0s' {1..199}); done
mkdir -p "$long"
long=$long/$(printf 'e%.0s' $(seq $((4000 - ${#long} - 1))))
[ ${#long} -eq 4000 ] || fail "test setup: destination of ${#long} bytes"
run "$sample" -s "$long"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$long"

begin "reports a destination path of 5,000 bytes in full"
long=$work/$(printf 'f%.0s' $(seq $((5000 - ${#work} - 1))))
run "$sample" -s "$long"
expect_failed_run
expect_err "Can not make directory $long: File name too long"$'\n'

begin "refuses an empty destination and creates nothing"
run_in "$work" "$sample" -s ""
expect_failed_run
expect_err $'You must specify a destination directory.\n'
[ "$(ls -A "$work")" = .home ] || fail "something was created: $(ls -A "$work")"

begin "refuses a destination whose parent is missing"
run "$sample" -s "$work/missing/dest"
expect_failed_run
expect_err "Can not make directory $work/missing/dest: No such file or directory"$'\n'
expect_absent "$work/missing"

begin "refuses /, whatever path leads there, before anything is written"
# As nobody when root runs the tests, so that a fault writes nothing there.
as=()
[ "$(id -u)" -ne 0 ] || as=(as_nobody)
ln -s / "$work/root-link"
for destination in / // /tmp/.. "$work/root-link" "$work/root-link/"; do
    run "${as[@]}" "$sample" -s "$destination"
    expect_failed_run
    expect_err $'Installing into / is refused; choose a folder for the product.\n'
done

begin "shows names in the locale's encoding, control characters escaped"
while read -r locale name shown; do
    # shellcheck disable=SC2059  # the name is written as printf's escapes
    run env LC_ALL="$locale" "$sample" -s "$work/missing/$(printf "$name")"
    expect_failed_run
    expect_err "Can not make directory $work/missing/$shown: No such file or directory"$'\n'
done <<'CASES'
C.UTF-8 Ziel-\303\244\033]0;T\007\033[2J Ziel-ä\033]0;T\007\033[2J
C Ziel-\303\244 Ziel-\303\244
CASES

begin "refuses a destination that is a file and leaves it alone"
printf 'keep me\n' >"$work/file"
run "$sample" -s "$work/file"
expect_failed_run
expect_err "The destination $work/file is not a directory."$'\n'
[ "$(cat "$work/file")" = "keep me" ] || fail "the file was changed"

begin "creates a new destination with mode 0777 less the umask, never world-writable"
# Root's is writable by root alone.
modes="027:750 000:775 002:775"
[ "$(id -u)" -ne 0 ] || modes="027:750 000:755 002:755"
for mask in $modes; do
    (umask "${mask%:*}" && run "$sample" -s "$work/dest$mask" && expect_status 0)
    [ "$(stat -c %a "$work/dest$mask")" = "${mask#*:}" ] ||
        fail "umask ${mask%:*}: mode $(stat -c %a "$work/dest$mask"), expected ${mask#*:}"
    expect_absent "$work/dest$mask/test"
done

begin "refuses a dangling link as destination and creates nothing through it"
ln -s "$work/target" "$work/link"
run "$sample" -s "$work/link"
expect_failed_run
expect_err "Can not make directory $work/link: No such file or directory"$'\n'
expect_absent "$work/target"

begin "unpacks nothing outside the destination, whatever the archive names"
# Members that climb out with "..", and one written through a link that
# points outside: both are refused, and the run fails.
mkdir -p "$work/src" "$work/outside" "$work/a/b"
printf 'out\n' >"$work/src/climber"
printf 'out\n' >"$work/src/file"
ln -s "$work/outside" "$work/src/link"
tar -C "$work/src" -cPf - --format=ustar \
    --transform 's,^\./climber$,../../climber,;s,^\./file$,./link/file,' \
    ./link ./climber ./file | gzip -n >"$work/hostile.gz"
assemble "$work/hostile.run" "$work/hostile.gz"
printf '\n%s\n' "$(stat -c %s "$work/hostile.gz")" >>"$work/hostile.run"
run "$work/hostile.run" -s "$work/a/b/dest"
expect_failed_run
expect_damaged "$work/hostile.run" 'its archive holds a member named "../../climber", outside the destination'
rm -f "$work/hostile.gz"
tar -C "$work/src" -cPf - --format=ustar --transform 's,^\./file$,./link/file,' \
    ./link ./file | gzip -n >"$work/hostile.gz"
installer_with "$work/hostile.run" "$work/hostile.gz"
run "$work/hostile.run" -s "$work/a/b/dest2"
expect_failed_run
expect_damaged "$work/hostile.run" 'its archive holds a member "link/file" below a symbolic link'
expect_empty_dir "$work/outside"
expect_absent "$work/a/climber"
expect_absent "$work/climber"

finish

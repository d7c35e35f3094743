#!/bin/bash
# The installer reads its own file by the path it was started with, and only
# exactly "-s DIRECTORY" asks for a silent run.
. "$(dirname "$0")/lib.sh"

cannot_find() {
    printf 'unable to find location of executable %s to self-extract.  Please run \n%s with an absolute path (e.g. ./%s)\n\n' "$1" "$1" "$1"
}

# padded LENGTH PATH: the same file named by a path of exactly LENGTH bytes.
padded() {
    local path=$2
    while [ ${#path} -lt $(($1 - 1)) ]; do path=/.$path; done
    [ ${#path} -eq "$1" ] || path=/$path
    printf '%s' "$path"
}

# run_named NAME COMMAND ARGS...: runs COMMAND with argument zero NAME.
run_named() {
    local name=$1
    shift
    run bash -c 'name=$1; shift; exec -a "$name" "$@"' bash "$name" "$@"
}

begin "a bare name found through the search path names no file here"
mkdir "$work/bin" "$work/elsewhere"
cp "$sample" "$work/bin/ovelo8.run"
PATH=$work/bin:$PATH run_in "$work/elsewhere" ovelo8.run -s "$work/dest"
expect_failed_run
expect_err "$(cannot_find ovelo8.run)"$'\n\n'
expect_absent "$work/dest"

begin "a bare name found through the search path never reads another file of that name here"
mkdir -p "$work/bin" "$work/elsewhere/tree"
cp "$sample" "$work/bin/ovelo8.run"
cp -a "$SAMPLE_PRODUCT/ovelo" "$work/elsewhere/tree/"
printf 'other\n' >"$work/elsewhere/tree/other-product"
package "$work/elsewhere/tree" "$work/elsewhere/ovelo8.run"
PATH=$work/bin:$PATH run_in "$work/elsewhere" ovelo8.run -s "$work/dest"
expect_failed_run
expect_err "$(cannot_find ovelo8.run)"$'\n\n'
expect_absent "$work/dest"

begin "a start path that is not a regular file is refused at once"
mkfifo "$work/fifo"
for name in "$work/fifo" "$work"; do
    run timeout 10 bash -c 'name=$1; shift; exec -a "$name" "$@"' bash "$name" "$sample" -s "$work/dest"
    expect_failed_run
    expect_err "The installer file $name is not a regular file."$'\n'
    expect_absent "$work/dest"
done

begin "a bare name in the installer's own directory works"
mkdir "$work/bin"
cp "$sample" "$work/bin/ovelo8.run"
PATH=$work/bin:$PATH run_in "$work/bin" ovelo8.run -s "$work/dest"
expect_status 0
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "a start path of 4,000 bytes is read whole"
name=$(padded 4000 "$sample")
run_named "$name" "$sample" -s "$work/dest"
expect_status 0
expect_err ""
expect_same_tree "$SAMPLE_PRODUCT" "$work/dest"

begin "a start path of 5,000 bytes is reported in full, three times"
name=$(padded 5000 "$sample")
[ ${#name} -eq 5000 ] || fail "test setup: a start path of ${#name} bytes"
run_named "$name" "$sample" -s "$work/dest"
expect_failed_run
expect_err "$(cannot_find "$name")"$'\n\n'
expect_absent "$work/dest"

begin "an empty destination after -s is a silent run"
run "$sample" -s ""
expect_failed_run
expect_err $'You must specify a destination directory.\n'

begin "any other command line is refused, never installs silently"
for args in "-s" "-s $work/dest extra" "$work/dest -s" "-sx $work/dest" "-s- $work/dest"; do
    # shellcheck disable=SC2086
    run "$sample" $args
    expect_status 2
    grep -q -- "--help" "$scratch/err" || fail "'$args' said $(cat "$scratch/err")"
    expect_absent "$work/dest"
done

finish

#!/bin/bash
# The Ansible module through the example play, on several hosts of the
# local connection, each installing into a folder of its own: present
# installs, and again changes nothing; a host whose files were changed is
# put right alone; absent removes, and again changes nothing; check mode
# reports the change and writes nothing; a failed installation fails the
# task with the installer's message and status.
. "$(dirname "$0")/lib.sh"
: "${ANSIBLE_DIR:?}"

if ! command -v ansible-playbook >/dev/null; then
    echo "ansible-playbook not found; scripts/install-deps.sh installs ansible-core" >&2
    exit 1
fi
hosts="alpha beta gamma"
{
    echo "[players]"
    for host in $hosts; do
        mkdir "$scratch/$host"
        echo "$host ovelo8_installer=$scratch/$host/ovelo8.run ovelo8_dest=$scratch/$host/Ovelo8"
    done
    echo "[players:vars]"
    echo "ansible_connection=local"
    echo "ansible_python_interpreter=/usr/bin/python3"
    echo "ovelo8_installer_file=$scratch/versioned.run"
} >"$scratch/inventory.ini"
version=8.2.1
"$MKINSTALLER" --product-version "$version" "$INSTALLER_IMAGE" "$SAMPLE_PRODUCT" \
    "$scratch/versioned.run" >/dev/null || fail "packaging with a version failed"
# Everything Ansible keeps goes into the scratch folder; results a line each.
export ANSIBLE_CONFIG=$ANSIBLE_DIR/ansible.cfg ANSIBLE_HOME=$scratch/ansible \
    ANSIBLE_LOCAL_TEMP=$scratch/ansible/tmp ANSIBLE_REMOTE_TMP=$scratch/ansible/remote \
    ANSIBLE_STDOUT_CALLBACK=oneline ANSIBLE_NOCOLOR=1

play() {
    run ansible-playbook -i "$scratch/inventory.ini" "$ANSIBLE_DIR/site.yml" "$@"
}

# For each host that ran the module, a line HOST changed=... failed=...
# rc=... tasks_changed=N (the play's tasks that changed the host) version=...,
# then a line for each difference found, message said and failure message.
# The oneline output has a line per task and host: HOST | STATUS => RESULT.
outcome() {
    python3 - "$scratch/out" <<'PYTHON'
import json, sys
changed, module = {}, {}
for line in open(sys.argv[1]):
    host, _, rest = line.rstrip("\n").partition(" | ")
    status, _, result = rest.partition(" => ")
    changed[host] = changed.get(host, 0) + (status == "CHANGED")
    result = json.loads(result or "{}")
    if "differences" in result:
        module[host] = (status, result)
for host, (status, r) in sorted(module.items()):
    print("%s changed=%s failed=%s rc=%s tasks_changed=%d version=%s" % (
        host, r["changed"], status == "FAILED!", r.get("rc", "-"), changed[host], r["version"]))
    for key in ("differences", "messages"):
        for text in r[key]:
            print("  %s: %s" % (key, text))
    if "msg" in r:
        print("  msg: %s" % r["msg"])
PYTHON
}

# The outcome is the text on standard input.
expect_outcome() {
    local expected got
    expected=$(cat; printf x)
    got=$(outcome; printf x)
    [ "$got" = "$expected" ] ||
        fail "results $(shown "${got%x}"), expected $(shown "${expected%x}") ($(shown "$(cat "$scratch/err")"))"
}

# every_host LINES: LINES for each host, HOST replaced by its name.
every_host() {
    local host
    for host in $hosts; do printf '%s\n' "${1//HOST/$host}"; done
}

begin "present installs on every host"
play
expect_status 0
every_host "HOST changed=True failed=False rc=- tasks_changed=2 version=$version
  differences: not installed" | expect_outcome
for host in $hosts; do expect_same_tree "$SAMPLE_PRODUCT" "$scratch/$host/Ovelo8"; done

begin "present again changes nothing"
play
expect_status 0
every_host "HOST changed=False failed=False rc=- tasks_changed=0 version=$version" | expect_outcome

begin "a host whose file was changed is installed again, alone, the user's version kept"
echo "edited" >>"$scratch/beta/Ovelo8/README"
play --limit beta
expect_status 0
expect_outcome <<EOF
beta changed=True failed=False rc=- tasks_changed=1 version=$version
  differences: changed: README
  messages: The new version replaced files you had changed or put there yourself; yours are kept beside them:
  messages:   $scratch/beta/Ovelo8/README.ovelo8-saved
EOF
cmp -s "$SAMPLE_PRODUCT/README" "$scratch/beta/Ovelo8/README" || fail "beta's README was not put right"

begin "absent removes on every host, but for the user's file"
play -e ovelo8_state=absent
expect_status 0
every_host "HOST changed=True failed=False rc=- tasks_changed=1 version=$version" | expect_outcome
expect_absent "$scratch/alpha/Ovelo8"
[ "$(entries "$scratch/beta/Ovelo8")" = README.ovelo8-saved ] || fail "beta holds $(entries "$scratch/beta/Ovelo8")"
expect_absent "$scratch/gamma/Ovelo8"

begin "absent again changes nothing, where the user's file is left too"
play -e ovelo8_state=absent
expect_status 0
every_host "HOST changed=False failed=False rc=- tasks_changed=0 version=$version" |
    sed '/^beta/a\  differences: not installed' | expect_outcome

begin "check mode reports the installation and writes nothing"
rm -r "$scratch/beta/Ovelo8"
play --check
expect_status 0
every_host "HOST changed=True failed=False rc=- tasks_changed=1 version=$version
  differences: not installed" | expect_outcome
for host in $hosts; do expect_absent "$scratch/$host/Ovelo8"; done

begin "a failed installation fails the task with the installer's message and status"
touch "$scratch/file"
play --limit alpha -e ovelo8_dest="$scratch/file/Ovelo8"
expect_status 2
expect_outcome <<EOF
alpha changed=False failed=True rc=1 tasks_changed=0 version=$version
  differences: not installed
  messages: Can not make directory $scratch/file/Ovelo8: Not a directory
  msg: Can not make directory $scratch/file/Ovelo8: Not a directory
EOF

finish

#!/usr/bin/python
# Installs Ovelo 8 on a managed host, or removes it, with an installer file
# that is already there.  The file itself tells what is to be done
# (--verify); nothing is run that would change the host when it says the
# destination is already as wanted, or in check mode.

DOCUMENTATION = r"""
---
module: ovelo8_install
short_description: Install or remove Ovelo 8 with its installer file
description:
  - Runs an Ovelo 8 installer file that is on the managed host, without a
    display.
  - C(FILE --verify DEST) decides whether anything is to be done,
    C(FILE -s DEST) installs and C(FILE --uninstall DEST) removes, so a
    second run of the same task reports no change.
  - Files the user added to I(dest) are left alone; files the user changed
    are kept and named in I(messages).
options:
  installer:
    description:
      - Absolute path of the installer file on the managed host; it must be
        executable.
    type: path
    required: true
  dest:
    description:
      - Absolute path of the folder the product is installed into or
        removed from.
    type: path
    required: true
  state:
    description:
      - C(present) installs when I(dest) does not hold exactly what the
        installer file installs (nothing, files changed or missing, another
        version).
      - C(absent) removes what the installation in I(dest) lists; a I(dest)
        that does not exist or holds no installation is left alone.
    type: str
    choices: [present, absent]
    default: present
notes:
  - Supports check mode; the installer file is then only asked
    (C(--info), C(--verify)).
  - When another installation or removal in I(dest) is under way (the
    installer's status 3) the task fails at once; C(retries) with C(until)
    waits for it.
requirements:
  - Python 3 on the managed host.
"""

EXAMPLES = r"""
- name: Install Ovelo 8 into /opt/Ovelo8
  ovelo8_install:
    installer: /var/tmp/ovelo8-installer.run
    dest: /opt/Ovelo8

- name: Remove it, waiting for another run in the same folder to end
  ovelo8_install:
    installer: /var/tmp/ovelo8-installer.run
    dest: /opt/Ovelo8
    state: absent
  register: removal
  retries: 5
  delay: 10
  until: removal.rc | default(0) != 3
"""

RETURN = r"""
version:
  description: The product version the installer file carries, C(unknown)
    when it tells none.
  returned: always
  type: str
  sample: "8.0.1"
differences:
  description: How I(dest) differed from what the installer file installs,
    one line each, as C(--verify) says them, before anything was done.
  returned: always
  type: list
  elements: str
  sample: ["changed: plugins/subtitles.so", "missing: help/index.html"]
messages:
  description: What the installer said on standard error while it
    installed or removed (files kept, an earlier run completed first).
  returned: always
  type: list
  elements: str
  sample: ["Kept /opt/Ovelo8/mime/types: it was changed since it was installed."]
rc:
  description: The installer's exit status, when it failed.
  returned: failure
  type: int
  sample: 3
"""

import os

from ansible.module_utils.basic import AnsibleModule

VERSION_LINE = "Product version: "


def run_installer(module, result, *args):
    """The installer file run with args: its status, output and error lines.
    No expansion of ~ or $NAME in the arguments: the paths were taken as
    paths already, and a second expansion would change them."""
    installer = module.params["installer"]
    try:
        rc, out, err = module.run_command([installer] + list(args), expand_user_and_vars=False,
                                          errors="replace", handle_exceptions=False)
    except OSError as e:
        module.fail_json(msg="Can not run the installer file %s: %s" % (installer, e.strerror),
                         **result)
    return rc, out.splitlines(), err.splitlines()


def fail(module, result, rc, err, what):
    """Fails the task with the installer's own message and status."""
    message = "\n".join(err) or "The installer file ended with status %d (%s)." % (rc, what)
    result["messages"] = err
    module.fail_json(msg=message, rc=rc, **result)


def product_version(module, result):
    rc, out, err = run_installer(module, result, "--info")
    if rc != 0:
        fail(module, result, rc, err, "--info")
    for line in out:
        if line.startswith(VERSION_LINE):
            return line[len(VERSION_LINE):]
    return "unknown"


def main():
    module = AnsibleModule(
        argument_spec=dict(
            installer=dict(type="path", required=True),
            dest=dict(type="path", required=True),
            state=dict(type="str", choices=["present", "absent"], default="present"),
        ),
        supports_check_mode=True,
    )
    dest = module.params["dest"]
    state = module.params["state"]
    result = dict(changed=False, version="unknown", differences=[], messages=[])
    # A relative path would be taken from wherever Ansible runs the module.
    for name in ("installer", "dest"):
        if not os.path.isabs(module.params[name]):
            module.fail_json(msg="%s must be an absolute path: %s" % (name, module.params[name]),
                             **result)

    result["version"] = product_version(module, result)
    if state == "absent" and not os.path.lexists(dest):
        module.exit_json(**result)
    rc, differences, err = run_installer(module, result, "--verify", dest)
    if rc not in (0, 1):
        fail(module, result, rc, err, "--verify")
    result["differences"] = differences
    if state == "present":
        result["changed"] = rc == 1
        action = ["-s", dest]
    else:
        result["changed"] = differences != ["not installed"]
        action = ["--uninstall", dest]

    if result["changed"] and not module.check_mode:
        rc, _, err = run_installer(module, result, *action)
        result["messages"] = err
        if rc != 0:
            # A failed installation puts the destination back as it was; a
            # failed removal may have removed some of it.
            result["changed"] = action[0] == "--uninstall"
            fail(module, result, rc, err, action[0])
    module.exit_json(**result)


if __name__ == "__main__":
    main()

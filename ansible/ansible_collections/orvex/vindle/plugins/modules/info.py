#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: info
short_description: Read each box's info fields
description:
  - Runs C(vindlectl info --format json) on the managed host and returns each box's record.
  - Fails the host when a box was not reached; every record is returned either way.
  - Only reads; nothing on a box changes, so check mode runs it too.
version_added: 1.0.0
author: Vindle developers
extends_documentation_fragment:
  - orvex.vindle.vindlectl
  - orvex.vindle.vindlectl.targets
'''

EXAMPLES = r'''
- name: Firmware of every box of the site
  orvex.vindle.info:
    all: true
    adapter: eth1
  register: info

- ansible.builtin.debug:
    msg: "{{ info.boxes | map(attribute='info.firmware') | list }}"
'''

RETURN = r'''
boxes:
  description:
    - vindlectl's record of each box, unchanged - target, reached, and info (name, mac, address,
      netmask, gateway, firmware, hardware, extra) or null when not reached.
  returned: always
  type: list
  elements: dict
  sample: [{"target": "10.77.0.2", "reached": true,
            "info": {"name": "box", "mac": "02:77:00:00:00:02", "firmware": "fw-1.0", "extra": []}}]
cmd:
  description: The vindlectl command line.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvex.vindle.plugins.module_utils.vindlectl import (
    Vindlectl, module_spec, targets_command, targets_problem)


def main():
    module = AnsibleModule(argument_spec=module_spec({}, targets=True), supports_check_mode=True)
    problem = targets_problem(module.params)
    if problem:
        module.fail_json(msg=problem)
    rc, boxes, err, cmd = Vindlectl(module).find().run_boxes(targets_command('info', module.params))
    unreached = [b.get('target', '?') for b in boxes if not b.get('reached')]
    if rc != 0 or unreached:
        module.fail_json(msg='not reached: %s' % (', '.join(unreached) or err.strip()),
                         changed=False, boxes=boxes, cmd=cmd, rc=rc)
    module.exit_json(changed=False, boxes=boxes, cmd=cmd)


if __name__ == '__main__':
    main()

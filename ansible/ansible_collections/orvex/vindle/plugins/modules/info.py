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
options:
  targets:
    description:
      - The boxes, each an IPv4 address, a MAC address or a range such as C(10.77.0.0/24).
      - Exactly one of I(targets) and I(all) is given.
    type: list
    elements: str
  all:
    description: Every box that answers a search on the adapter.
    type: bool
    default: false
  adapter:
    description: The adapter to search on, by name, alias or address.
    type: str
  wait:
    description: How long a search listens for replies, in milliseconds.
    type: int
  vindlectl:
    description: Path of the vindlectl program; found in C(PATH) when not given.
    type: path
notes:
  - Supports check mode.
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
    COMMON_SPEC, Vindlectl, build_command, common_args, target_options, target_positionals)


def main():
    spec = dict(targets=dict(type='list', elements='str'), all=dict(type='bool', default=False))
    spec.update(COMMON_SPEC)
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    params = module.params
    if params['all'] == bool(params.get('targets')):
        module.fail_json(msg='give either targets (a non-empty list) or all: true')
    ctl = Vindlectl(module).find()
    rc, boxes, err, cmd = ctl.run_json(build_command(
        'info', ['--format', 'json'] + target_options(params) + common_args(params),
        target_positionals(params)))
    if not isinstance(boxes, list):
        module.fail_json(msg='vindlectl info printed no list of boxes', cmd=cmd, rc=rc)
    unreached = [b.get('target', '?') for b in boxes if not b.get('reached')]
    if rc != 0 or unreached:
        module.fail_json(msg='not reached: %s' % (', '.join(unreached) or err.strip()),
                         changed=False, boxes=boxes, cmd=cmd, rc=rc)
    module.exit_json(changed=False, boxes=boxes, cmd=cmd)


if __name__ == '__main__':
    main()

#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: discover
short_description: Find the boxes on the site host's segment
description:
  - Runs C(vindlectl discover --format json) on the managed host and returns the boxes that
    answered the search, also as the fact C(vindle_boxes).
  - A site where no box answered is not a failure; C(boxes) is then empty.
  - Only searches; nothing on a box changes, so check mode runs it too.
version_added: 1.0.0
author: Vindle developers
options:
  adapter:
    description: The adapter to search on, by name, alias or address, or C(all) (the default).
    type: str
  wait:
    description: How long the search listens for replies, in milliseconds (1 to 600000).
    type: int
extends_documentation_fragment:
  - orvex.vindle.vindlectl
'''

EXAMPLES = r'''
- name: Find the site's boxes
  orvex.vindle.discover:
    adapter: eth1
    wait: 2000
  register: found

- name: Show addresses claimed twice
  ansible.builtin.debug:
    msg: "{{ ansible_facts.vindle_boxes | selectattr('ip_conflict') | list }}"
'''

RETURN = r'''
boxes:
  description: vindlectl's record of each box that answered, unchanged.
  returned: always
  type: list
  elements: dict
  sample: [{"ip": "10.77.0.2", "mac": "02:77:00:00:00:02", "netmask": "255.255.255.0",
            "gateway": "0.0.0.0", "adapter": "br0", "ip_conflict": false, "mac_repeated": false}]
ansible_facts:
  description: C(vindle_boxes), the same list as C(boxes).
  returned: always
  type: dict
cmd:
  description: The vindlectl command line.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvex.vindle.plugins.module_utils.vindlectl import (
    Vindlectl, discover_command, module_spec)


def main():
    module = AnsibleModule(argument_spec=module_spec({}), supports_check_mode=True)
    rc, boxes, err, cmd = Vindlectl(module).find().run_boxes(discover_command(module.params))
    module.exit_json(changed=False, boxes=boxes, ansible_facts=dict(vindle_boxes=boxes), cmd=cmd)


if __name__ == '__main__':
    main()

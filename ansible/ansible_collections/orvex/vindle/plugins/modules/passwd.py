#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: passwd
short_description: Set the password of boxes of the site
description:
  - Runs C(vindlectl passwd --format json) on the managed host; the password reaches it on standard input, never on a command line.
  - Changed when at least one box took the password; fails the host when any box did not, with every
    box's result returned either way.
  - In check mode nothing is sent; the command that would run is returned.
version_added: 1.0.0
author: Vindle developers
options:
  password:
    description:
      - The new password. Given to vindlectl on its standard input and never logged.
    type: str
    required: true
extends_documentation_fragment:
  - orvex.vindle.vindlectl
  - orvex.vindle.vindlectl.targets
'''

EXAMPLES = r'''
- name: Set the password of every box
  orvex.vindle.passwd:
    all: true
    password: "{{ vault_box_password }}"
'''

RETURN = r'''
boxes:
  description: vindlectl's record of each box, unchanged (target, result); empty in check mode.
  returned: always
  type: list
  elements: dict
  sample: [{"target": "10.77.0.2", "result": "ok"}]
failed_boxes:
  description: One line per box that did not acknowledge, with vindlectl's result text.
  returned: when vindlectl ran
  type: list
  elements: str
cmd:
  description: The vindlectl command line (in check mode, the one that would run).
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvex.vindle.plugins.module_utils.vindlectl import module_spec, verdict_run


def main():
    spec = module_spec(dict(password=dict(type='str', required=True, no_log=True)), targets=True)
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    verdict_run(module, 'passwd', data=module.params['password'])


if __name__ == '__main__':
    main()

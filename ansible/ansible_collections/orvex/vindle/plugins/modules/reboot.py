#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: reboot
short_description: Reboot boxes of the site
description:
  - Runs C(vindlectl reboot --format json) on the managed host.
  - Changed when at least one box acknowledged; fails the host when any box did not, with every
    box's result returned either way.
  - In check mode nothing is sent; the command that would run is returned.
version_added: 1.0.0
author: Vindle developers
extends_documentation_fragment:
  - orvex.vindle.vindlectl
  - orvex.vindle.vindlectl.targets
'''

EXAMPLES = r'''
- name: Reboot two boxes
  orvex.vindle.reboot:
    targets: [10.77.0.2, 10.77.0.3]
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
    spec = module_spec({}, targets=True)
    verdict_run(AnsibleModule(argument_spec=spec, supports_check_mode=True), 'reboot')


if __name__ == '__main__':
    main()

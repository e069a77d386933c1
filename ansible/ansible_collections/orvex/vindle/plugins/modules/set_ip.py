#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: set_ip
short_description: Give a box a new address, netmask and gateway by its MAC
description:
  - Searches the site's segment with C(vindlectl discover --format json); when the box with
    I(mac) already has the wanted address, netmask and gateway nothing is sent and nothing
    changes, otherwise C(vindlectl set-ip) sends the new configuration.
  - Fails when no box with I(mac) answers the search.
  - In check mode only the search runs.
version_added: 1.0.0
author: Vindle developers
options:
  mac:
    description: The box's MAC address.
    type: str
    required: true
  address:
    description: The new IPv4 address.
    type: str
    required: true
  netmask:
    description: The new netmask.
    type: str
    required: true
  gateway:
    description: The new default gateway (C(0.0.0.0) for none).
    type: str
    required: true
  adapter:
    description: The adapter to search on, by name, alias or address (needed when there are several).
    type: str
extends_documentation_fragment:
  - orvex.vindle.vindlectl
'''

EXAMPLES = r'''
- name: Move a box into the plant's address plan
  orvex.vindle.set_ip:
    mac: "02:77:00:00:00:05"
    address: 192.168.1.50
    netmask: 255.255.255.0
    gateway: 192.168.1.1
    adapter: eth1
'''

RETURN = r'''
boxes:
  description:
    - The box as the search found it before the change (vindlectl's discover record, unchanged),
      with C(result) C(ok) when the new configuration was acknowledged, C(unchanged) when it was
      already in place, or C(would change) in check mode.
  returned: when the box answered the search
  type: list
  elements: dict
cmd:
  description: The vindlectl set-ip command line, when one ran or would run.
  returned: always
  type: list
  elements: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvex.vindle.plugins.module_utils.vindlectl import (
    Vindlectl, build_command, common_args, discover_command, module_spec, normal_mac)


def main():
    spec = module_spec(dict(mac=dict(type='str', required=True), address=dict(type='str', required=True),
                            netmask=dict(type='str', required=True), gateway=dict(type='str', required=True)))
    module = AnsibleModule(argument_spec=spec, supports_check_mode=True)
    params = module.params
    ctl = Vindlectl(module).find()
    rc, found, err, cmd = ctl.run_json(discover_command(params))
    box = next((dict(b) for b in (found if isinstance(found, list) else [])
                if normal_mac(b.get('mac', '')) == normal_mac(params['mac'])), None)
    set_cmd = [ctl.path] + build_command('set-ip', common_args(params), [
        params['mac'], params['address'], params['netmask'], params['gateway']])
    if box is None:
        module.fail_json(msg='no box with MAC %s answered the search' % params['mac'], cmd=set_cmd)
    wanted = (params['address'], params['netmask'], params['gateway'])
    if (box.get('ip'), box.get('netmask'), box.get('gateway')) == wanted:
        box['result'] = 'unchanged'
        module.exit_json(changed=False, boxes=[box], cmd=[])
    if module.check_mode:
        box['result'] = 'would change'
        module.exit_json(changed=True, boxes=[box], cmd=set_cmd)
    rc, out, err, cmd = ctl.run(set_cmd[1:])
    if rc != 0:
        module.fail_json(msg='set-ip failed (exit %d): %s' % (rc, (err or out).strip()), boxes=[box],
                         cmd=cmd, rc=rc)
    box['result'] = 'ok'
    module.exit_json(changed=True, boxes=[box], cmd=cmd)


if __name__ == '__main__':
    main()

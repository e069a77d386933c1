#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: update
short_description: Update the boxes of a site from a file on the site host
description:
  - Runs C(vindlectl update --format json) on the managed host, which serves the file by TFTP
    on the site's segment and has each target box fetch and install it.
  - Returns vindlectl's record of every box unchanged in C(boxes).
  - Fails the host when any box failed; every box's result is returned either way.
  - In check mode only the pre-flight runs (the file, UDP port 69 on the adapter, TCP port 1000
    of each target) and nothing is sent to a box.
version_added: 1.0.0
author: Vindle developers
options:
  kind:
    description: What the file updates.
    type: str
    required: true
    choices: [system, app, software]
  file:
    description: The update file on the managed host.
    type: path
    required: true
  targets:
    description:
      - The boxes, each an IPv4 address, a MAC address (found by a search) or a range such
        as C(10.77.0.0/24).
      - Exactly one of I(targets) and I(all) is given.
    type: list
    elements: str
  adapter:
    description: The adapter to search and serve on, by name, alias or address.
    type: str
  parallel:
    description: Boxes updated at once (1 to 256).
    type: int
    default: 8
  retries:
    description: Further attempts after a lost connection or no answer.
    type: int
    default: 0
  retry_errors:
    description: Also retry a box that answered C(error).
    type: bool
    default: false
  max_failures:
    description: Start no new box after this many failed (0, no limit).
    type: int
    default: 0
  timeout:
    description: Seconds to wait for a box's answer.
    type: int
    default: 3600
  wait_back:
    description: After C(ok), seconds to wait for the box to answer again (0, do not wait).
    type: int
    default: 0
  port_range:
    description: The TFTP transfer ports as C(LO-HI), for firewalls.
    type: str
  skip_if_field:
    description:
      - The 0-based index of a field of the box's info message (so 8 is the ninth field).
      - A box whose field already has I(skip_if_value) is not updated and reported as C(ok),
        not changed; this makes a repeated run idempotent.
    type: int
  skip_if_value:
    description: The value of I(skip_if_field) that a box must not have yet to be updated.
    type: str
notes:
  - Needs vindlectl 1.0.0 or later on the managed host, and the right to bind UDP port 69 there.
extends_documentation_fragment:
  - orvex.vindle.vindlectl
  - orvex.vindle.vindlectl.targets
'''

EXAMPLES = r'''
- name: Update every box of the site with the staged firmware
  orvex.vindle.update:
    kind: system
    file: /var/lib/vindle/fw-2.1.bin
    all: true
    adapter: eth1
    parallel: 8
    retries: 2
    skip_if_field: 5
    skip_if_value: fw-2.1

- name: Update two boxes and keep going when one fails
  orvex.vindle.update:
    kind: app
    file: /srv/app-3.bin
    targets: [192.168.1.20, "02:77:00:00:00:05"]
  register: result
  ignore_errors: true
'''

RETURN = r'''
boxes:
  description:
    - vindlectl's record of each box, unchanged (mac, ip, result, ok, attempts, bytes_served,
      seconds, info_before, info_after), then a record per skipped box with C(skipped=true).
    - In check mode a record per target with C(ip), C(mac), C(ok) and C(result) C(ready) or
      C(unreachable).
  returned: always
  type: list
  elements: dict
  sample: [{"mac": "02:77:00:00:00:02", "ip": "10.77.0.2", "result": "ok", "ok": true,
            "attempts": 1, "bytes_served": 65536, "seconds": 0.4,
            "info_before": {"firmware": "fw-1.0"}, "info_after": {"firmware": "fw-2.1"}}]
file:
  description: The file as vindlectl served it (name, size, sha256).
  returned: when vindlectl ran the update
  type: dict
  sample: {"name": "/var/lib/vindle/fw-2.1.bin", "size": 65536, "sha256": "9f86d0..."}
kind:
  description: The update kind.
  returned: when vindlectl ran the update
  type: str
cancelled:
  description: Whether the run was cancelled before every box was done.
  returned: when vindlectl ran the update
  type: bool
updated:
  description: Number of boxes that updated in this run.
  returned: always
  type: int
skipped_boxes:
  description: Number of boxes skipped because they already showed I(skip_if_value).
  returned: always
  type: int
failed_boxes:
  description: One line per failed box, its address and vindlectl's result text.
  returned: always
  type: list
  elements: str
  sample: ["10.77.0.5: error: flash full"]
cmd:
  description: The vindlectl command line of the update.
  returned: always
  type: list
  elements: str
'''

import ipaddress

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.orvex.vindle.plugins.module_utils import preflight
from ansible_collections.orvex.vindle.plugins.module_utils.vindlectl import (
    Vindlectl, build_command, discover_command, failure_lines, module_spec, normal_mac, split_skips,
    target_options, target_positionals, targets_command, targets_problem, update_options,
    update_result)


def argument_spec():
    return module_spec(dict(
        kind=dict(type='str', required=True, choices=['system', 'app', 'software']),
        file=dict(type='path', required=True),
        parallel=dict(type='int', default=8),
        retries=dict(type='int', default=0),
        retry_errors=dict(type='bool', default=False),
        max_failures=dict(type='int', default=0),
        timeout=dict(type='int', default=3600),
        wait_back=dict(type='int', default=0),
        port_range=dict(type='str'),
        skip_if_field=dict(type='int'),
        skip_if_value=dict(type='str'),
    ), targets=True)


def argument_problem(params):
    """Why the arguments cannot make a run, or None; checked before vindlectl runs."""
    problem = targets_problem(params)
    if problem:
        return problem
    if (params.get('skip_if_field') is None) != (params.get('skip_if_value') is None):
        return 'skip_if_field and skip_if_value go together'
    if params.get('skip_if_field') is not None and params['skip_if_field'] < 0:
        return 'skip_if_field is a 0-based index, not %d' % params['skip_if_field']
    return None


def select_found(found, params):
    """The discovered boxes that the targets name, as (ip, mac) pairs, and
    the targets that named none."""
    if params['all']:
        return [(b['ip'], b['mac']) for b in found], []
    chosen, missing = [], []
    for target in params['targets']:
        if preflight.is_ipv4(target):
            mac = next((b['mac'] for b in found if b['ip'] == target), '')
            matches = [(target, mac)]
        elif '/' in target:
            try:
                net = ipaddress.ip_network(target, strict=False)
            except ValueError:
                matches = []
            else:
                matches = [(b['ip'], b['mac']) for b in found if ipaddress.ip_address(b['ip']) in net]
        else:
            matches = [(b['ip'], b['mac']) for b in found if normal_mac(b['mac']) == normal_mac(target)]
        if not matches:
            missing.append(target)
        for match in matches:
            if match not in chosen:
                chosen.append(match)
    return chosen, missing


def check_run(module, ctl, params, skipped, remaining, macs):
    """Check mode: the pre-flight alone, nothing sent to a box."""
    problems = []
    problem = preflight.file_problem(params['file'])
    if problem:
        problems.append(problem)
    problem = preflight.tftp_port_problem(preflight.adapter_address(params.get('adapter')))
    if problem:
        problems.append(problem)
    if remaining is not None:
        chosen, missing = [(ip, macs.get(ip, '')) for ip in remaining], []
    elif not params['all'] and all(preflight.is_ipv4(t) for t in params['targets']):
        chosen, missing = [(t, '') for t in params['targets']], []
    else:
        rc, found, err, cmd = ctl.run_json(discover_command(params))
        chosen, missing = select_found(found if isinstance(found, list) else [], params)
    problems += ['%s: no box found' % t for t in missing]
    reachable = preflight.probe_boxes([ip for ip, mac in chosen])
    boxes = [dict(ip=ip, mac=mac, ok=reachable[ip], result='ready' if reachable[ip] else 'unreachable')
             for ip, mac in chosen] + skipped
    failures = failure_lines(boxes)
    result = dict(changed=any(b['result'] == 'ready' for b in boxes), boxes=boxes,
                  updated=0, skipped_boxes=len(skipped), failed_boxes=failures, cmd=[])
    if problems or failures:
        module.fail_json(msg='pre-flight failed: %s' % '; '.join(problems + failures), **result)
    module.exit_json(**result)


def main():
    module = AnsibleModule(argument_spec=argument_spec(), supports_check_mode=True)
    params = module.params
    problem = argument_problem(params)
    if problem:
        module.fail_json(msg=problem)
    ctl = Vindlectl(module).find()

    skipped, remaining, macs = [], None, {}
    if params.get('skip_if_field') is not None:
        rc, infos, err, cmd = ctl.run_json(targets_command('info', params))
        if not isinstance(infos, list):
            module.fail_json(msg='vindlectl info printed no list of boxes', cmd=cmd)
        skipped, remaining = split_skips(infos, params['skip_if_field'], params['skip_if_value'])
        macs = dict((r.get('target'), (r.get('info') or {}).get('mac', '')) for r in infos)

    if module.check_mode:
        check_run(module, ctl, params, skipped, remaining, macs)

    if remaining is not None and not remaining:
        module.exit_json(**dict(update_result(None, skipped), cmd=[]))
    positionals = [params['kind'], params['file']]
    if remaining is not None:
        options = update_options(params)
        positionals += remaining
    else:
        options = update_options(params) + target_options(params)
        positionals += target_positionals(params)
    rc, report, err, cmd = ctl.run_json(build_command('update', options, positionals))
    if not isinstance(report, dict):
        module.fail_json(msg='vindlectl update printed no report', cmd=cmd, rc=rc, stderr=err)
    result = update_result(report, skipped)
    result.update(cmd=cmd, rc=rc, stderr=err)
    if rc != 0 or result['failed_boxes']:
        total = len(result['boxes'])
        module.fail_json(msg='%d of %d boxes failed: %s' % (
            len(result['failed_boxes']), total, '; '.join(result['failed_boxes']) or err.strip()),
            **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

# -*- coding: utf-8 -*-
# Copyright: Vindle developers
# GNU General Public License v3.0+ (see https://www.gnu.org/licenses/gpl-3.0.txt)
"""Runs vindlectl for the modules and turns its output into results.

The box protocol stays in vindlectl: these helpers only build its command
lines, run it and read its JSON.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import re

MIN_VERSION = (1, 0, 0)
EXIT_ALL_DONE = 0
EXIT_SOME_FAILED = 1
EXIT_USAGE = 2

# The names vindlectl gives the info fields, in the box's order; fields
# after these are listed under "extra".
INFO_NAMES = ('name', 'mac', 'address', 'netmask', 'gateway', 'firmware', 'hardware')

# The options of the doc fragment orvex.vindle.vindlectl ...
COMMON_SPEC = dict(
    vindlectl=dict(type='path'),
    adapter=dict(type='str'),
    wait=dict(type='int'),
)

# ... and of orvex.vindle.vindlectl.targets.
TARGET_SPEC = dict(
    targets=dict(type='list', elements='str'),
    all=dict(type='bool', default=False),
)

TARGETS_PROBLEM = 'give either targets (a non-empty list) or all: true'


class VindlectlError(Exception):
    """A run whose outcome cannot be turned into box records."""

    def __init__(self, msg, **details):
        super(VindlectlError, self).__init__(msg)
        self.msg = msg
        self.details = details


def parse_version(text):
    """(major, minor, patch) from the output of vindlectl --version, or None."""
    match = re.search(r'\bvindlectl\s+(\d+)\.(\d+)(?:\.(\d+))?', text or '')
    if not match:
        return None
    return tuple(int(part or 0) for part in match.groups())


def version_problem(text):
    """Why the program that printed text is not a usable vindlectl, or None."""
    version = parse_version(text)
    if version is None:
        return 'does not say it is vindlectl (--version printed %r)' % (text or '').strip()[:200]
    if version < MIN_VERSION:
        return 'is vindlectl %s; version %s or later is needed' % (
            '.'.join(str(v) for v in version), '.'.join(str(v) for v in MIN_VERSION))
    return None


def info_field(info, index):
    """The field at 0-based index of a box's info record as vindlectl prints it."""
    if not isinstance(info, dict):
        return None
    if index < len(INFO_NAMES):
        return info.get(INFO_NAMES[index])
    extra = info.get('extra') or []
    position = index - len(INFO_NAMES)
    return extra[position] if position < len(extra) else None


def module_spec(own, targets=False):
    """A module's argument_spec: its own options, then those of the doc
    fragments it extends (TARGET_SPEC when targets, COMMON_SPEC always)."""
    spec = dict(own)
    if targets:
        spec.update(TARGET_SPEC)
    spec.update(COMMON_SPEC)
    return spec


def common_args(params):
    args = []
    if params.get('adapter'):
        args += ['--adapter', params['adapter']]
    if params.get('wait') is not None:
        args += ['--wait', str(params['wait'])]
    return args


def build_command(subcommand, options, positionals):
    """A vindlectl command line; the positionals follow the end-of-options
    marker, so a target or file name never reads as an option."""
    return [subcommand] + list(options) + ['--'] + list(positionals)


def target_options(params):
    return ['--all'] if params.get('all') else []


def target_positionals(params):
    return [] if params.get('all') else list(params.get('targets') or [])


def targets_problem(params):
    """Why targets and all do not name the boxes, or None."""
    return TARGETS_PROBLEM if params['all'] == bool(params.get('targets')) else None


def discover_command(params):
    return build_command('discover', ['--format', 'json'] + common_args(params), [])


def targets_command(subcommand, params, extra_options=()):
    """A vindlectl subcommand with JSON output on the boxes targets or all name."""
    return build_command(subcommand, ['--format', 'json'] + target_options(params) + common_args(params)
                         + list(extra_options), target_positionals(params))


def normal_mac(text):
    return text.strip().lower().replace('-', ':')


def update_options(params):
    args = ['--format', 'json', '--parallel', str(params['parallel']),
            '--retries', str(params['retries']), '--max-failures', str(params['max_failures']),
            '--timeout', str(params['timeout']), '--wait-back', str(params['wait_back'])]
    if params.get('retry_errors'):
        args.append('--retry-errors')
    if params.get('port_range'):
        args += ['--port-range', params['port_range']]
    return args + common_args(params)


def box_ok(record):
    """Whether a record stands for a box that did what was asked.

    vindlectl's own verdict ("ok") is taken when it gives one, so that any
    new result word it learns is judged by vindlectl, not here."""
    if 'ok' in record:
        return record['ok'] is True
    return record.get('result') == 'ok'


def failure_lines(records):
    lines = []
    for record in records:
        if not box_ok(record):
            who = record.get('ip') or record.get('target') or record.get('mac') or '?'
            lines.append('%s: %s' % (who, record.get('result', 'failed')))
    return lines


def parse_json_output(rc, stdout, stderr, cmd):
    """vindlectl's JSON, or VindlectlError for a usage error or other text."""
    if rc == EXIT_USAGE:
        raise VindlectlError('vindlectl refused the arguments (nothing was sent): %s'
                             % ((stderr or '').strip() or 'no reason given'),
                             rc=rc, stderr=stderr, stdout=stdout, cmd=cmd)
    try:
        return json.loads(stdout)
    except ValueError:
        raise VindlectlError('vindlectl exited %d without JSON output: %s'
                             % (rc, (stderr or stdout or '').strip()[:2000] or 'no output'),
                             rc=rc, stderr=stderr, stdout=stdout, cmd=cmd)


class Vindlectl(object):
    """One module's vindlectl: found, version-checked, run with JSON output."""

    def __init__(self, module):
        self.module = module
        self.path = None

    def _fail(self, msg, **details):
        self.module.fail_json(msg=msg, **details)

    def find(self):
        given = self.module.params.get('vindlectl')
        if given:
            import os
            if not (os.path.isfile(given) and os.access(given, os.X_OK)):
                self._fail('vindlectl not found or not executable at %s' % given)
            self.path = given
        else:
            self.path = self.module.get_bin_path('vindlectl')
            if not self.path:
                self._fail('vindlectl not found in PATH; install the vindle package or give vindlectl=PATH')
        rc, out, err = self.module.run_command([self.path, '--version'])
        problem = version_problem(out) if rc == 0 else 'failed on --version: %s' % (err or out).strip()
        if problem:
            self._fail('%s %s' % (self.path, problem))
        return self

    def run(self, args, data=None):
        cmd = [self.path] + args
        rc, out, err = self.module.run_command(cmd, data=data, binary_data=False)
        return rc, out, err, cmd

    def run_json(self, args, data=None):
        rc, out, err, cmd = self.run(args, data=data)
        try:
            return rc, parse_json_output(rc, out, err, cmd), err, cmd
        except VindlectlError as e:
            self._fail(e.msg, **e.details)

    def run_boxes(self, args, data=None):
        """run_json for a subcommand that prints a list of box records."""
        rc, boxes, err, cmd = self.run_json(args, data=data)
        if not isinstance(boxes, list):
            self._fail('vindlectl %s printed no list of boxes' % args[0], cmd=cmd, rc=rc)
        return rc, boxes, err, cmd


def split_skips(info_records, field, value):
    """Splits vindlectl info records into the boxes that already show value
    in field (reported as done, with a record of their own) and the
    addresses still to update. A box that was not reached is not skipped:
    the update then reports it as vindlectl sees it."""
    skipped, remaining = [], []
    for record in info_records:
        info = record.get('info') if record.get('reached') else None
        if info is not None and info_field(info, field) == value:
            skipped.append({'ip': record.get('target'), 'mac': info.get('mac', ''), 'result': 'ok',
                            'ok': True, 'skipped': True, 'attempts': 0, 'bytes_served': 0,
                            'seconds': 0, 'info_before': info, 'info_after': info})
        else:
            remaining.append(record.get('target'))
    return skipped, remaining


def update_result(report, skipped):
    """The module's result of an update: vindlectl's records unchanged, the
    skipped boxes' records after them, and the verdict over all of them."""
    report = report or {}
    records = list(report.get('boxes') or []) + list(skipped)
    updated = [r for r in records if box_ok(r) and not r.get('skipped')]
    failures = failure_lines(records)
    return dict(
        changed=bool(updated),
        boxes=records,
        file=report.get('file'),
        kind=report.get('kind'),
        cancelled=bool(report.get('cancelled')),
        updated=len(updated),
        skipped_boxes=len(skipped),
        failed_boxes=failures,
    )


def verdict_run(module, subcommand, extra_options=(), data=None):
    """reboot and passwd: vindlectl's {target, result} records; changed when
    a box said ok; the host fails when any box did not. Check mode sends
    nothing and reports the command that would run."""
    problem = targets_problem(module.params)
    if problem:
        module.fail_json(msg=problem)
    ctl = Vindlectl(module).find()
    args = targets_command(subcommand, module.params, extra_options)
    if module.check_mode:
        module.exit_json(changed=True, boxes=[], cmd=[ctl.path] + args)
    rc, boxes, err, cmd = ctl.run_boxes(args, data=data)
    failures = failure_lines(boxes)
    changed = any(box_ok(b) for b in boxes)
    if rc != 0 or failures:
        module.fail_json(msg='%s failed: %s' % (subcommand, '; '.join(failures) or (err or '').strip()),
                         changed=changed, boxes=boxes, failed_boxes=failures, cmd=cmd, rc=rc)
    module.exit_json(changed=changed, boxes=boxes, failed_boxes=[], cmd=cmd)

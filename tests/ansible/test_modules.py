"""The modules against a stand-in vindlectl that records how it was called
and answers from a plan: command lines, what reaches standard input,
result shaping and every way a run is refused."""

import json
import os
import stat
import sys

import pytest
from ansible.module_utils import basic

from ansible_collections.orvex.vindle.plugins.module_utils import preflight, vindlectl
from ansible_collections.orvex.vindle.plugins.modules import (discover, info, passwd, reboot, set_ip,
                                                                update)

FAKE = r'''#!%s
import json, os, sys
plan = json.load(open(os.environ['FAKE_PLAN']))
with open(os.environ['FAKE_LOG'], 'a') as log:
    data = '' if sys.argv[1] == '--version' else sys.stdin.read()
    log.write(json.dumps({'argv': sys.argv[1:], 'stdin': data}) + '\n')
answer = plan.get(sys.argv[1], {'rc': 0, 'stdout': '[]'})
sys.stdout.write(answer.get('stdout', ''))
sys.stderr.write(answer.get('stderr', ''))
sys.exit(answer.get('rc', 0))
'''


def box(ip, result='ok', ok=None, firmware='fw-1.0'):
    info_ = {'name': 'box', 'mac': '02:77:00:00:00:0%s' % ip[-1], 'address': ip, 'netmask': '255.255.255.0',
             'gateway': '0.0.0.0', 'firmware': firmware, 'hardware': 'hw', 'extra': ['x', 'vindle-box']}
    return {'mac': info_['mac'], 'ip': ip, 'result': result, 'ok': result == 'ok' if ok is None else ok,
            'attempts': 1, 'bytes_served': 4096, 'seconds': 0.5, 'info_before': info_, 'info_after': info_}


def report(*boxes):
    return json.dumps({'kind': 'system', 'file': {'name': '/fw.bin', 'size': 4096, 'sha256': 'ab'},
                       'cancelled': False, 'boxes': list(boxes)})


def info_records(*firmwares):
    return json.dumps([{'target': '10.77.0.%d' % (i + 2), 'reached': fw is not None,
                        'info': None if fw is None else box('10.77.0.%d' % (i + 2), firmware=fw)['info_before']}
                       for i, fw in enumerate(firmwares)])


class Fake:
    def __init__(self, tmp_path, monkeypatch):
        self.path = str(tmp_path / 'vindlectl')
        self.plan_file = tmp_path / 'plan.json'
        self.log_file = tmp_path / 'log.jsonl'
        with open(self.path, 'w') as f:
            f.write(FAKE % sys.executable)
        os.chmod(self.path, stat.S_IRWXU)
        monkeypatch.setenv('FAKE_PLAN', str(self.plan_file))
        monkeypatch.setenv('FAKE_LOG', str(self.log_file))
        self.plan({})

    def plan(self, answers):
        answers.setdefault('--version', {'rc': 0, 'stdout': 'vindlectl 1.0.0\n'})
        self.plan_file.write_text(json.dumps(answers))

    def calls(self):
        if not self.log_file.exists():
            return []
        calls = [json.loads(line) for line in self.log_file.read_text().splitlines()]
        return [c for c in calls if c['argv'] != ['--version']]


@pytest.fixture
def fake(tmp_path, monkeypatch):
    return Fake(tmp_path, monkeypatch)


def run(module, args, capsys, check=False):
    args = dict(args, _ansible_check_mode=check)
    basic._ANSIBLE_ARGS = json.dumps({'ANSIBLE_MODULE_ARGS': args}).encode()
    with pytest.raises(SystemExit):
        module.main()
    return json.loads(capsys.readouterr().out)


UPDATE = {'kind': 'system', 'file': '/fw.bin'}


def test_update_passes_records_through_and_judges_by_vindlectls_verdict(fake, capsys):
    cases = [
        # name, vindlectl's exit and boxes, expect failed, changed, failed_boxes
        ('all ok', 0, [box('10.77.0.2'), box('10.77.0.3')], False, True, []),
        ('one error', 1, [box('10.77.0.2'), box('10.77.0.3', 'error: flash full')], True, True,
         ['10.77.0.3: error: flash full']),
        ('unknown word, failed', 1, [box('10.77.0.2', 'unverified', ok=False)], True, False,
         ['10.77.0.2: unverified']),
        ('unknown word, ok', 0, [box('10.77.0.2', 'ok (checked)', ok=True)], False, True, []),
        ('none reached', 1, [box('10.77.0.2', 'unreachable')], True, False, ['10.77.0.2: unreachable']),
    ]
    for name, rc, boxes, failed, changed, failures in cases:
        fake.plan({'update': {'rc': rc, 'stdout': report(*boxes), 'stderr': 'progress\n'}})
        result = run(update, dict(UPDATE, targets=['10.77.0.2', '02:77:00:00:00:03'], vindlectl=fake.path,
                                  adapter='br0', retries=2, retry_errors=True, port_range='5000-5100'), capsys)
        assert result.get('failed', False) == failed, name
        assert result['changed'] == changed, name
        assert result['boxes'] == boxes, name
        assert result['failed_boxes'] == failures, name
        assert result['file']['sha256'] == 'ab', name
    assert fake.calls()[-1]['argv'] == [
        'update', '--format', 'json', '--parallel', '8', '--retries', '2', '--max-failures', '0',
        '--timeout', '3600', '--wait-back', '0', '--retry-errors', '--port-range', '5000-5100',
        '--adapter', 'br0', '--', 'system', '/fw.bin', '10.77.0.2', '02:77:00:00:00:03']


def test_update_skips_boxes_that_show_the_value(fake, capsys):
    # Field 5 is the firmware; field 8 the second of the extra fields.
    fake.plan({'info': {'rc': 1, 'stdout': info_records('fw-2.0', 'fw-1.0', None)},
               'update': {'rc': 1, 'stdout': report(box('10.77.0.3'), box('10.77.0.4', 'unreachable'))}})
    result = run(update, dict(UPDATE, all=True, vindlectl=fake.path, skip_if_field=5, skip_if_value='fw-2.0'),
                 capsys)
    info_call, update_call = fake.calls()
    assert info_call['argv'] == ['info', '--format', 'json', '--all', '--']
    # The update names the remaining boxes, not --all.
    assert '--all' not in update_call['argv']
    assert update_call['argv'][-5:] == ['--', 'system', '/fw.bin', '10.77.0.3', '10.77.0.4']
    assert result['failed'] and result['updated'] == 1 and result['skipped_boxes'] == 1
    skipped = [b for b in result['boxes'] if b.get('skipped')]
    assert [(b['ip'], b['result'], b['ok']) for b in skipped] == [('10.77.0.2', 'ok', True)]

    fake.log_file.unlink()
    fake.plan({'info': {'rc': 0, 'stdout': info_records('fw-1.0', 'fw-1.0')}})
    result = run(update, dict(UPDATE, targets=['10.77.0.0/24'], vindlectl=fake.path, skip_if_field=8,
                              skip_if_value='vindle-box'), capsys)
    assert not result['changed'] and not result.get('failed') and result['skipped_boxes'] == 2
    assert [c['argv'][0] for c in fake.calls()] == ['info']


def test_update_check_mode_sends_nothing(fake, capsys, tmp_path, monkeypatch):
    firmware = tmp_path / 'fw.bin'
    firmware.write_bytes(b'x' * 100)
    monkeypatch.setattr(preflight, 'tftp_port_problem', lambda address: None)
    monkeypatch.setattr(preflight, 'probe_boxes', lambda ips: {ip: ip != '10.77.0.9' for ip in ips})
    fake.plan({'discover': {'rc': 0, 'stdout': json.dumps([
        {'ip': '10.77.0.2', 'mac': '02:77:00:00:00:02'}, {'ip': '10.77.0.9', 'mac': '02:77:00:00:00:09'}])}})
    cases = [
        ('ready', dict(targets=['10.77.0.2']), False, []),
        ('by mac and range', dict(targets=['02-77-00-00-00-02', '10.77.0.0/28']), True, ['discover']),
        ('all', dict(all=True), True, ['discover']),
        ('missing file', dict(targets=['10.77.0.2'], file=str(tmp_path / 'none')), True, []),
        ('unknown mac', dict(targets=['02:77:00:00:00:0a']), True, ['discover']),
    ]
    for name, args, failed, subcommands in cases:
        if fake.log_file.exists():
            fake.log_file.unlink()
        result = run(update, dict(dict(UPDATE, file=str(firmware), vindlectl=fake.path), **args), capsys,
                     check=True)
        assert result.get('failed', False) == failed, (name, result)
        assert [c['argv'][0] for c in fake.calls()] == subcommands, name
    # The range adds the unreachable box once, next to the one named by MAC.
    result = run(update, dict(UPDATE, file=str(firmware), vindlectl=fake.path,
                              targets=['02:77:00:00:00:02', '10.77.0.0/28']), capsys, check=True)
    assert [(b['ip'], b['result']) for b in result['boxes']] == [('10.77.0.2', 'ready'),
                                                                 ('10.77.0.9', 'unreachable')]
    # With a skip, the boxes come from info (read only): the done one is ok, not changed.
    fake.log_file.unlink()
    fake.plan({'info': {'rc': 0, 'stdout': info_records('fw-2.0', 'fw-1.0')}})
    result = run(update, dict(UPDATE, file=str(firmware), vindlectl=fake.path, all=True, skip_if_field=5,
                              skip_if_value='fw-2.0'), capsys, check=True)
    assert [(b['ip'], b['mac'], b['result']) for b in result['boxes']] == [
        ('10.77.0.3', '02:77:00:00:00:03', 'ready'), ('10.77.0.2', '02:77:00:00:00:02', 'ok')]
    assert result['changed'] and [c['argv'][0] for c in fake.calls()] == ['info']


def test_refusals_send_nothing(fake, capsys, tmp_path):
    old = tmp_path / 'old'
    old.write_text('#!/bin/sh\necho "vindlectl 0.9.1"\n')
    old.chmod(0o700)
    other = tmp_path / 'other'
    other.write_text('#!/bin/sh\necho "frobnicate 1.0"\n')
    other.chmod(0o700)
    cases = [
        ('targets and all', update, dict(UPDATE, targets=['10.77.0.2'], all=True), 'either targets'),
        ('neither', update, dict(UPDATE), 'either targets'),
        ('half a skip', update, dict(UPDATE, all=True, skip_if_field=5), 'go together'),
        ('negative field', update, dict(UPDATE, all=True, skip_if_field=-1, skip_if_value='x'), '0-based'),
        ('missing program', info, dict(all=True, vindlectl=str(tmp_path / 'none')), 'not found'),
        ('too old', info, dict(all=True, vindlectl=str(old)), 'version 1.0.0 or later'),
        ('not vindlectl', reboot, dict(all=True, vindlectl=str(other)), 'does not say it is vindlectl'),
    ]
    for name, module, args, text in cases:
        args.setdefault('vindlectl', fake.path)
        result = run(module, args, capsys)
        assert result['failed'] and text in result['msg'], (name, result['msg'])
    assert fake.calls() == []

    for name, answer, text in [('usage', {'rc': 2, 'stderr': 'vindlectl: --wait: out of range'},
                                'refused the arguments (nothing was sent): vindlectl: --wait'),
                               ('not json', {'rc': 1, 'stdout': 'Segmentation fault'}, 'without JSON output')]:
        fake.plan({'update': answer})
        result = run(update, dict(UPDATE, all=True, vindlectl=fake.path), capsys)
        assert result['failed'] and text in result['msg'], name


def test_passwd_goes_on_standard_input_only(fake, capsys):
    fake.plan({'passwd': {'rc': 1, 'stdout': json.dumps([{'target': '10.77.0.2', 'result': 'ok'},
                                                          {'target': '10.77.0.3', 'result': 'no answer'}])}})
    result = run(passwd, dict(targets=['10.77.0.2', '10.77.0.3'], password='s3cret pw', vindlectl=fake.path),
                 capsys)
    (call,) = fake.calls()
    assert call['stdin'] == 's3cret pw\n'
    assert not any('s3cret' in a for a in call['argv'])
    assert 's3cret' not in json.dumps(result)
    assert result['failed'] and result['changed'] and result['failed_boxes'] == ['10.77.0.3: no answer']

    fake.log_file.unlink()
    result = run(passwd, dict(all=True, password='s3cret pw', vindlectl=fake.path), capsys, check=True)
    assert result['changed'] and fake.calls() == []


def test_discover_and_set_ip(fake, capsys):
    found = [{'ip': '10.77.0.2', 'mac': '02:77:00:00:00:02', 'netmask': '255.255.255.0', 'gateway': '0.0.0.0',
              'adapter': 'br0', 'ip_conflict': False, 'mac_repeated': False}]
    fake.plan({'discover': {'rc': 1, 'stdout': '[]\n'}})
    result = run(discover, dict(vindlectl=fake.path, wait=500), capsys)
    assert not result.get('failed') and result['boxes'] == [] and result['ansible_facts']['vindle_boxes'] == []
    fake.plan({'discover': {'rc': 1, 'stderr': 'port 4000 is taken'}})
    assert 'port 4000 is taken' in run(discover, dict(vindlectl=fake.path), capsys)['msg']

    fake.plan({'discover': {'rc': 0, 'stdout': json.dumps(found)}, 'set-ip': {'rc': 0, 'stdout': 'ok\n'}})
    fake.log_file.unlink()
    cases = [
        # args, check mode, expect changed, failed, subcommands run
        (dict(mac='02-77-00-00-00-02', address='10.77.0.2', netmask='255.255.255.0', gateway='0.0.0.0'),
         False, False, False, ['discover']),
        (dict(mac='02:77:00:00:00:02', address='10.77.0.50', netmask='255.255.255.0', gateway='0.0.0.0'),
         True, True, False, ['discover']),
        (dict(mac='02:77:00:00:00:02', address='10.77.0.50', netmask='255.255.255.0', gateway='0.0.0.0'),
         False, True, False, ['discover', 'set-ip']),
        (dict(mac='02:77:00:00:00:07', address='10.77.0.50', netmask='255.255.255.0', gateway='0.0.0.0'),
         False, False, True, ['discover']),
    ]
    for args, check, changed, failed, subcommands in cases:
        if fake.log_file.exists():
            fake.log_file.unlink()
        result = run(set_ip, dict(args, vindlectl=fake.path, adapter='br0'), capsys, check=check)
        assert result.get('changed', False) == changed and result.get('failed', False) == failed, args
        assert [c['argv'][0] for c in fake.calls()] == subcommands, args
    assert fake.calls()[0]['argv'] == ['discover', '--format', 'json', '--adapter', 'br0', '--']


def test_info_field_counts_from_zero_across_named_and_extra_fields():
    info_ = box('10.77.0.2')['info_before']
    for index, expected in [(0, 'box'), (5, 'fw-1.0'), (6, 'hw'), (7, 'x'), (8, 'vindle-box'), (9, None)]:
        assert vindlectl.info_field(info_, index) == expected, index
    assert vindlectl.info_field(None, 5) is None


class Captured(Exception):
    pass


class DocFragments(object):
    """The collection's doc fragments, found as Ansible's fragment loader
    finds them, for Ansible's own merge of a module's documentation."""

    def get(self, name):
        import importlib
        prefix = 'orvex.vindle.'
        if not name.startswith(prefix):
            return None
        try:
            found = importlib.import_module('ansible_collections.orvex.vindle.plugins.doc_fragments.'
                                            + name[len(prefix):])
        except ImportError:
            return None
        return type('Fragment', (found.ModuleDocFragment,), {'ansible_name': name})


def test_documentation_matches_each_modules_arguments(monkeypatch):
    # What ansible-test's module validation would compare, for when it cannot
    # run (it needs packages from the network).
    import yaml
    from ansible.utils.plugin_docs import add_fragments
    for module in (discover, info, update, reboot, set_ip, passwd):
        def capture(argument_spec, **kwargs):
            raise Captured(argument_spec, kwargs)
        monkeypatch.setattr(module, 'AnsibleModule', capture)
        with pytest.raises(Captured) as caught:
            module.main()
        spec, kwargs = caught.value.args
        assert kwargs.get('supports_check_mode') is True, module.__name__
        doc = yaml.safe_load(module.DOCUMENTATION)
        add_fragments(doc, module.__file__, DocFragments(), is_module=True)
        yaml.safe_load(module.EXAMPLES)
        assert isinstance(yaml.safe_load(module.RETURN)['boxes'], dict), module.__name__
        options = doc['options']
        assert sorted(options) == sorted(spec), module.__name__
        for name, option in options.items():
            where = '%s.%s' % (module.__name__, name)
            assert option['type'] == spec[name].get('type', 'str'), where
            assert option.get('default') == spec[name].get('default'), where
            assert option.get('required', False) == spec[name].get('required', False), where
            assert option.get('choices') == spec[name].get('choices'), where
            assert option.get('elements') == spec[name].get('elements'), where
            assert option.get('description'), where
    assert spec['password']['no_log'] is True

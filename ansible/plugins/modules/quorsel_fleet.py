#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 The Quorsel developers

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: quorsel_fleet
short_description: Update the wireless-LAN access points of one site with quorsel-fleet
version_added: "1.0.0"
description:
  - Runs C(quorsel-fleet) on the site's machine (the managed host), where the C(quorsel)
    Debian package is installed, and keeps a record of every access point it has updated.
  - The fleet runs with C(--json), C(--report) and, once a record exists, C(--skip-updated RECORD);
    access points that the record shows updated with the same firmware are left alone, so a
    second run with the same firmware changes nothing.
  - After the run, the run's report is merged into the record (replaced atomically), where each
    access point keeps its latest entry.
  - In check mode the fleet runs with C(--dry-run). Only the inquiry reaches an access point,
    nothing is written on the managed host, and the result says which access points would be updated.
  - The exit status 4 of the fleet ("nothing to update") is not a failure.
options:
  firmware:
    description:
      - Firmware files on the managed host. The first is the fleet's first argument, the others are
        given with C(--firmware); each access point gets the file whose model code is its own.
    type: list
    elements: path
    required: true
  regions:
    description:
      - The flash regions, as the firmware file's option letters without the dash (C(fz), C(f), C(epfz)).
      - When omitted, the fleet's default (regions 4 and 5).
    type: str
  targets:
    description:
      - Addresses, ranges (C(10.0.0.0/24), C(10.0.0.2-40)) or C(@FILE) lists on the managed host.
      - Required and never empty, so that only the access points named here are contacted.
    type: list
    elements: str
    required: true
  password:
    description:
      - The password of the new-generation access points. It reaches the fleet through a file of
        mode 0600 in the module's private temporary folder, removed when the run ends; it is never
        on a command line nor in the module's output.
    type: str
  password_file:
    description:
      - A file on the managed host whose first line is the password.
    type: path
  jobs:
    description: At most this many access points are updated at once (C(--jobs)).
    type: int
  batches:
    description:
      - Rollout batches, numbers or percentages of the access points to update
        (C(--batches)); each batch starts when the one before has ended.
    type: list
    elements: str
  max_fail:
    description:
      - Once more access points than this have failed, nothing new starts (C(--max-fail), a number N or a percentage P%).
    type: str
  await_restart:
    description:
      - Wait up to this many minutes for each updated access point to be restarted (C(--await-restart)).
    type: int
  record:
    description:
      - The record kept on the managed host, a fleet report holding the latest entry of every
        access point updated from this machine.
    type: path
    default: /var/lib/quorsel/fleet-record.json
  report:
    description:
      - Where the fleet writes this run's report. The default is beside the record, its name
        ending in C(-last-run.json).
    type: path
  executable:
    description: The fleet program.
    type: path
    default: quorsel-fleet
attributes:
  check_mode:
    support: full
notes:
  - Use C(serial) and C(max_fail_percentage) in the play to roll out site by site.
requirements:
  - the C(quorsel) Debian package on the managed host
author:
  - The Quorsel developers
'''

EXAMPLES = r'''
- name: Update every access point of the shop's /24
  quorsel.fleet.quorsel_fleet:
    firmware:
      - /srv/firmware/quorsel-KRV001
      - /srv/firmware/quorsel-MXD001
    regions: fz
    targets:
      - 192.168.10.0/24
    password: "{{ vault_access_point_password }}"
    batches: ["1", "25%", "100%"]
    max_fail: "1"

- name: What would be updated (no write anywhere)
  quorsel.fleet.quorsel_fleet:
    firmware: [/srv/firmware/quorsel-KRV001]
    targets: ["@/etc/quorsel/access-points.txt"]
    password_file: /etc/quorsel/password
  check_mode: true
'''

RETURN = r'''
results:
  description: One entry per access point of this run, with the keys of the fleet's report.
  returned: when the fleet wrote a report
  type: list
  elements: dict
  sample:
    - address: 192.168.10.7
      model: KRV001
      generation: new
      generationDigit: "2"
      result: updated
      reason: null
      flashTouched: true
      status: STATUS_COMPLETE
      exitStatus: 0
      bytesAcknowledged: 2097152
      started: "2026-12-09T05:41:07Z"
      ended: "2026-12-09T05:41:12Z"
      diagnostic: null
      firmware: /srv/firmware/quorsel-KRV001
fleet_exit_status:
  description: The fleet's exit status (0 all updated, 1 some failed, 2 unusable arguments or files,
    3 no sockets, 4 nothing to update).
  returned: always
  type: int
  sample: 0
report:
  description: The path of this run's report (not kept in check mode).
  returned: always
  type: str
  sample: /var/lib/quorsel/fleet-record-last-run.json
record:
  description: The path of the record.
  returned: always
  type: str
  sample: /var/lib/quorsel/fleet-record.json
cmd:
  description: The fleet's command line (the password is never on it).
  returned: always
  type: list
  elements: str
stderr:
  description: The fleet's human-readable lines.
  returned: always
  type: str
msg:
  description: What was updated, what would be, or which access points failed.
  returned: always
  type: str
'''

import ipaddress
import json
import os
import re
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule

# The fleet's exit statuses that are not failures: all updated, nothing to update.
FLEET_EXIT_OK = (0, 4)
# The results that are no failure, as the fleet counts them: any other (failed, stopped,
# never started, a named target that is no access point here) is one.
FINE_RESULTS = ('updated', 'planned', 'skipped-other-model')
RECORD_MODE = 0o644
RECORD_FOLDER_MODE = 0o755


def address_key(entry):
    address = entry.get('address') or ''
    try:
        return (0, int(ipaddress.ip_address(address)), address)
    except ValueError:
        return (1, 0, address)


def earlier_file_name(path, sha256):
    return '%s (earlier file, sha256 %s)' % (path, sha256)


def merge_record(record, report):
    """The record after a run: the run's report with, for every access point not in it, its
    entry from the earlier record. The fleet finds the digest of the file an access point got
    by the file's path; when that path now holds other bytes, the earlier file is kept under
    a name of its own, so that its access points are not taken as updated with the new one."""
    record = record or {}
    new_files = report.get('firmware') or []
    new_digests = dict((f.get('path'), f.get('sha256')) for f in new_files)
    old_files = dict((f.get('path'), f) for f in record.get('firmware') or [])

    entries = {}
    for entry in record.get('accessPoints') or []:
        if not entry.get('address'):
            continue
        path = entry.get('firmware')
        if path in new_digests and path in old_files and old_files[path].get('sha256') != new_digests[path]:
            name = earlier_file_name(path, old_files[path].get('sha256'))
            old_files[name] = dict(old_files[path], path=name)
            entry = dict(entry, firmware=name)
        entries[entry['address']] = entry
    for entry in report.get('accessPoints') or []:
        # A copy written while the fleet ran may hold entries not ended yet.
        if entry.get('address') and entry.get('result'):
            entries[entry['address']] = entry

    used = set(e.get('firmware') for e in entries.values())
    files = list(new_files) + [f for p, f in sorted(old_files.items(), key=lambda i: str(i[0]))
                               if p not in new_digests and p in used]
    merged = dict(report)
    merged['firmware'] = files
    merged['accessPoints'] = sorted(entries.values(), key=address_key)
    return merged


def write_atomically(path, data):
    folder = os.path.dirname(path) or '.'
    handle, temporary = tempfile.mkstemp(prefix='.%s.' % os.path.basename(path), dir=folder)
    try:
        with os.fdopen(handle, 'w') as out:
            json.dump(data, out, indent=2, ensure_ascii=False)
            out.write('\n')
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, RECORD_MODE)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def read_json(path):
    """The JSON object in the file, None when there is no file; raises ValueError when the
    file cannot be read or holds no object."""
    try:
        with open(path) as f:
            data = json.load(f)
    except FileNotFoundError:
        return None
    except OSError as e:
        raise ValueError(str(e))
    if not isinstance(data, dict):
        raise ValueError('no JSON object')
    return data


def default_report_path(record):
    folder, name = os.path.split(record)
    stem = name[:-len('.json')] if name.endswith('.json') else name
    return os.path.join(folder, stem + '-last-run.json')


def failed_entries(results):
    return [e for e in results if e.get('result') not in FINE_RESULTS]


def describe(entries):
    return '; '.join('%s %s%s' % (e.get('address'), e.get('result'),
                                  ' (%s)' % e['reason'] if e.get('reason') else '') for e in entries)


def fleet_command(module, executable, report, password_file):
    p = module.params
    firmware = [os.path.abspath(f) for f in p['firmware']]
    cmd = [executable, firmware[0]]
    for path in firmware[1:]:
        cmd += ['--firmware', path]
    if p['regions']:
        cmd.append('-' + p['regions'])
    if p['jobs'] is not None:
        cmd += ['--jobs', str(p['jobs'])]
    if p['batches']:
        cmd += ['--batches', ','.join(p['batches'])]
    if p['max_fail'] is not None:
        cmd += ['--max-fail', p['max_fail']]
    if p['await_restart'] is not None:
        cmd.append('--await-restart=%d' % p['await_restart'])
    if password_file:
        cmd += ['--password-file', password_file]
    cmd += ['--json', '--report', report]
    if os.path.exists(p['record']):
        cmd += ['--skip-updated', p['record']]
    if module.check_mode:
        cmd.append('--dry-run')
    return cmd + ['--'] + p['targets']


def run_fleet(module, executable, report):
    """Runs the fleet with the password, if one is given, in a file of mode 0600 that is
    removed when the fleet has ended. Returns (cmd, rc, stderr)."""
    password = module.params['password']
    password_file = module.params['password_file']
    temporary = None
    try:
        if password is not None:
            handle, temporary = tempfile.mkstemp(prefix='password-', dir=module.tmpdir)
            with os.fdopen(handle, 'w') as out:
                out.write(password + '\n')
            password_file = temporary
        cmd = fleet_command(module, executable, report, password_file)
        rc, _events, stderr = module.run_command(cmd)
        return cmd, rc, stderr
    finally:
        if temporary:
            os.unlink(temporary)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            firmware=dict(type='list', elements='path', required=True),
            regions=dict(type='str'),
            targets=dict(type='list', elements='str', required=True),
            password=dict(type='str', no_log=True),
            password_file=dict(type='path', no_log=False),
            jobs=dict(type='int'),
            batches=dict(type='list', elements='str'),
            max_fail=dict(type='str'),
            await_restart=dict(type='int'),
            record=dict(type='path', default='/var/lib/quorsel/fleet-record.json'),
            report=dict(type='path'),
            executable=dict(type='path', default='quorsel-fleet'),
        ),
        mutually_exclusive=[('password', 'password_file')],
        supports_check_mode=True,
    )
    p = module.params
    if not p['firmware']:
        module.fail_json(msg='firmware: give at least one firmware file')
    if not p['targets'] or any(not t for t in p['targets']):
        module.fail_json(msg='targets: name the access points; empty targets are refused')
    if p['regions'] is not None and not re.match(r'^[a-z]+$', p['regions']):
        module.fail_json(msg='regions: option letters without the dash, e.g. fz')
    if p['password'] is not None and re.search(r'[\r\n]', p['password']):
        module.fail_json(msg='password: a line break cannot be passed to quorsel-fleet')

    executable = p['executable']
    if os.sep not in executable:
        executable = module.get_bin_path(executable, required=True)
    record = os.path.abspath(p['record'])
    p['record'] = record
    result = dict(changed=False, record=record, results=[])
    try:
        earlier = read_json(record)
    except ValueError as e:
        module.fail_json(msg='the record %s cannot be read: %s' % (record, e), **result)

    # Check mode keeps the dry run's report in a folder of its own and removes it.
    scratch = None
    if module.check_mode:
        scratch = tempfile.mkdtemp(prefix='quorsel-dry-run-', dir=module.tmpdir)
        report = os.path.join(scratch, 'report.json')
    else:
        report = os.path.abspath(p['report'] or default_report_path(record))
        try:
            for folder in set([os.path.dirname(record), os.path.dirname(report)]):
                if not os.path.isdir(folder):
                    os.makedirs(folder, RECORD_FOLDER_MODE)
            # A report left by an earlier run must not be taken for this run's.
            if os.path.lexists(report):
                os.unlink(report)
        except OSError as e:
            module.fail_json(msg='the report %s cannot be prepared: %s' % (report, e), **result)
    try:
        cmd, rc, stderr = run_fleet(module, executable, report)
        result.update(cmd=cmd, fleet_exit_status=rc, stderr=stderr,
                      report=None if module.check_mode else report)
        try:
            fleet_report = read_json(report)
        except ValueError as e:
            module.fail_json(msg='the report %s cannot be read: %s' % (report, e), **result)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)

    if fleet_report is None:
        # The fleet's first line says why (a usage line may follow).
        why = [line for line in stderr.splitlines() if line.strip()][:1]
        module.fail_json(msg='quorsel-fleet ended with exit status %d without a report%s'
                         % (rc, ': ' + why[0] if why else ''), **result)

    results = fleet_report.get('accessPoints') or []
    result['results'] = results
    # What this run did: an entry the fleet took over from the record unchanged is not new.
    recorded = dict((e.get('address'), e) for e in (earlier or {}).get('accessPoints') or [])
    ran = [e for e in results if e != recorded.get(e.get('address'))]
    if module.check_mode:
        planned = [e['address'] for e in ran if e.get('result') == 'planned']
        result['changed'] = bool(planned)
        result['msg'] = ('would update %d access point(s): %s' % (len(planned), ', '.join(planned))
                         if planned else 'nothing to update')
    else:
        try:
            write_atomically(record, merge_record(earlier, fleet_report))
        except OSError as e:
            module.fail_json(msg='the record %s cannot be written: %s' % (record, e), **result)
        updated = [e['address'] for e in ran if e.get('result') == 'updated']
        result['changed'] = any(e.get('flashTouched') for e in ran)
        result['msg'] = ('updated %d access point(s): %s' % (len(updated), ', '.join(updated))
                         if updated else 'nothing to update')

    failed = failed_entries(ran)
    if failed or rc not in FLEET_EXIT_OK:
        result['msg'] = '%d access point(s) failed: %s' % (len(failed), describe(failed)) if failed else \
            'quorsel-fleet ended with exit status %d' % rc
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

"""The module quorsel_fleet: merging a run into the site's record, and the password's way to
the fleet. Run with Debian's Python (the one ansible-core uses)."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '../../ansible/plugins/modules/quorsel_fleet.py')
sys.path.insert(0, os.path.dirname(MODULE))
import quorsel_fleet  # noqa: E402

FILE_A = {'path': '/srv/quorsel-KRV001', 'sha256': 'a' * 64, 'model': 'KRV001'}
FILE_B = {'path': '/srv/quorsel-MXD001', 'sha256': 'b' * 64, 'model': 'MXD001'}


def entry(address, result, firmware=FILE_A['path']):
    return {'address': address, 'result': result, 'reason': None, 'flashTouched': result == 'updated',
            'firmware': firmware}


def report(files, entries):
    return {'program': 'quorsel-fleet', 'finished': True, 'firmware': files, 'accessPoints': entries}


class MergeRecordTest(unittest.TestCase):
    def test_each_access_point_keeps_its_latest_ended_entry_in_address_order(self):
        earlier = report([FILE_A, FILE_B], [entry('10.0.0.20', 'updated'), entry('10.0.0.3', 'updated', FILE_B['path']),
                                            entry('10.0.0.9', 'failed-while-writing')])
        run = report([FILE_A], [entry('10.0.0.9', 'updated'), entry('10.0.0.100', 'no-answer', None),
                                entry('10.0.0.7', '', None)])  # 10.0.0.7 had not ended
        merged = quorsel_fleet.merge_record(earlier, run)
        self.assertEqual([(e['address'], e['result']) for e in merged['accessPoints']],
                         [('10.0.0.3', 'updated'), ('10.0.0.9', 'updated'), ('10.0.0.20', 'updated'),
                          ('10.0.0.100', 'no-answer')])
        self.assertEqual(merged['firmware'], [FILE_A, FILE_B])  # 10.0.0.3's file stays listed

    def test_an_entry_whose_file_now_holds_other_bytes_keeps_the_digest_it_got(self):
        newer_a = dict(FILE_A, sha256='c' * 64)
        merged = quorsel_fleet.merge_record(report([FILE_A], [entry('10.0.0.2', 'updated')]),
                                            report([newer_a], [entry('10.0.0.5', 'updated')]))
        # The fleet looks the digest up by the entry's file name, the first file of that name.
        digest = dict((f['path'], f['sha256']) for f in reversed(merged['firmware']))
        self.assertEqual([digest[e['firmware']] for e in merged['accessPoints']], ['a' * 64, 'c' * 64])
        again = quorsel_fleet.merge_record(merged, report([FILE_A], [entry('10.0.0.5', 'updated')]))
        self.assertEqual(len(again['firmware']), 2)  # the earlier files and their names do not pile up


# Stands in for quorsel-fleet: keeps its arguments and what its password file held and how,
# writes the report in FAKE_REPORT and exits 1.
FAKE_FLEET = r'''#!/usr/bin/python3
import json, os, sys
args = sys.argv[1:]
path = args[args.index('--password-file') + 1]
json.dump({'argv': args, 'path': path, 'mode': os.stat(path).st_mode & 0o777, 'text': open(path).read()},
          open(os.environ['FAKE_SEEN'], 'w'))
open(args[args.index('--report') + 1], 'w').write(os.environ['FAKE_REPORT'])
sys.exit(1)
'''


class PasswordTest(unittest.TestCase):
    def test_the_password_reaches_the_fleet_only_in_a_private_file_removed_afterwards(self):
        password = 'Secret-pw 42'
        with tempfile.TemporaryDirectory() as work:
            fleet, seen, tmp = os.path.join(work, 'fleet'), os.path.join(work, 'seen'), os.path.join(work, 'tmp')
            os.mkdir(tmp)
            with open(fleet, 'w') as f:
                f.write(FAKE_FLEET)
            os.chmod(fleet, 0o700)
            args = dict(firmware=['/srv/quorsel-KRV001'], targets=['10.0.0.0/24'], password=password,
                        record=os.path.join(work, 'record.json'), executable=fleet, _ansible_tmpdir=tmp)
            with open(os.path.join(work, 'args'), 'w') as f:
                json.dump({'ANSIBLE_MODULE_ARGS': args}, f)
            fleet_report = report([FILE_A], [entry('10.0.0.1', 'updated'), entry('10.0.0.2', 'failed-before-writing')])
            out = subprocess.run(['/usr/bin/python3', MODULE, os.path.join(work, 'args')], capture_output=True,
                                 text=True, timeout=60, env=dict(os.environ, FAKE_SEEN=seen,
                                                                 FAKE_REPORT=json.dumps(fleet_report))).stdout
            with open(seen) as f:
                fleet_saw = json.load(f)
            self.assertEqual((fleet_saw['text'], fleet_saw['mode']), (password + '\n', 0o600))
            self.assertFalse(any(password in a for a in fleet_saw['argv']))
            self.assertEqual(os.listdir(tmp), [])
            self.assertNotIn(password, out)
            result = json.loads(out)
            self.assertEqual((result['failed'], result['changed']), (True, True))
            self.assertIn('10.0.0.2 failed-before-writing', result['msg'])


if __name__ == '__main__':
    unittest.main()

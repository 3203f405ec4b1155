"""The module quorsel_fleet: the merging of a run into the site's record, and the password's
way to the fleet (never on its command line, never in the output, its file gone afterwards).
Run with the Python that Debian's ansible-core uses:
    /usr/bin/python3 -m unittest discover -s tests/ansible -p '*_test.py'"""

import json
import os
import stat
import subprocess
import sys
import tempfile
import textwrap
import unittest

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
MODULE = os.path.join(SOURCE, 'ansible', 'plugins', 'modules', 'quorsel_fleet.py')
sys.path.insert(0, os.path.dirname(MODULE))
import quorsel_fleet  # noqa: E402

FILE_A = {'path': '/srv/quorsel-KRV001', 'size': 10, 'sha256': 'a' * 64, 'model': 'KRV001'}
FILE_B = {'path': '/srv/quorsel-MXD001', 'size': 10, 'sha256': 'b' * 64, 'model': 'MXD001'}


def entry(address, result, firmware='/srv/quorsel-KRV001', touched=None):
    return {'address': address, 'model': 'KRV001', 'result': result, 'reason': None,
            'flashTouched': result == 'updated' if touched is None else touched, 'firmware': firmware}


def report(firmware, entries, targets=('10.0.0.0/24',)):
    return {'program': 'quorsel-fleet', 'version': '1.0', 'started': '2026-12-09T05:41:07Z',
            'ended': '2026-12-09T05:41:17Z', 'finished': True, 'exitStatus': 0, 'firmware': firmware,
            'regions': 'fz', 'targets': list(targets), 'accessPoints': entries}


class MergeRecordTest(unittest.TestCase):
    def test_each_access_point_keeps_its_latest_entry_in_address_order(self):
        earlier = report([FILE_A, FILE_B], [entry('10.0.0.20', 'updated'),
                                            entry('10.0.0.3', 'updated', '/srv/quorsel-MXD001'),
                                            entry('10.0.0.9', 'failed-while-writing')])
        run = report([FILE_A], [entry('10.0.0.9', 'updated'), entry('10.0.0.100', 'no-answer', None),
                                entry('10.0.0.7', '', None)])  # 10.0.0.7 had not ended
        merged = quorsel_fleet.merge_record(earlier, run)
        self.assertEqual([(e['address'], e['result']) for e in merged['accessPoints']],
                         [('10.0.0.3', 'updated'), ('10.0.0.9', 'updated'), ('10.0.0.20', 'updated'),
                          ('10.0.0.100', 'no-answer')])
        # The file an earlier entry got stays listed, so that its entry still names its digest.
        self.assertEqual(merged['firmware'], [FILE_A, FILE_B])
        self.assertEqual(quorsel_fleet.merge_record(None, run)['accessPoints'][0]['address'], '10.0.0.9')

    def test_an_entry_whose_file_was_replaced_is_no_longer_updated_with_that_path(self):
        earlier = report([FILE_A], [entry('10.0.0.2', 'updated')])
        newer_a = dict(FILE_A, sha256='c' * 64)
        merged = quorsel_fleet.merge_record(earlier, report([newer_a], [entry('10.0.0.5', 'updated')]))
        kept = merged['accessPoints'][0]
        self.assertEqual(kept['address'], '10.0.0.2')
        self.assertIsNone(kept['firmware'])
        self.assertIn('a' * 64, kept['reason'])
        self.assertEqual(merged['firmware'], [newer_a])


# A stand-in for quorsel-fleet: records its command line and what its password file held,
# then writes the report given in FAKE_REPORT and exits with FAKE_STATUS.
FAKE_FLEET = textwrap.dedent('''\
    #!/usr/bin/python3
    import json, os, stat, sys
    args = sys.argv[1:]
    seen = {'argv': args}
    if '--password-file' in args:
        path = args[args.index('--password-file') + 1]
        seen['password_file'] = path
        seen['mode'] = stat.S_IMODE(os.stat(path).st_mode)
        seen['first_line'] = open(path).read().split('\\n')[0]
    json.dump(seen, open(os.environ['FAKE_SEEN'], 'w'))
    sys.stderr.write('password file read\\n')
    report = args[args.index('--report') + 1]
    with open(report, 'w') as out:
        out.write(os.environ['FAKE_REPORT'])
    sys.exit(int(os.environ['FAKE_STATUS']))
    ''')


class ModuleRunTest(unittest.TestCase):
    PASSWORD = 'Secret-pw 42'

    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.dir = self.work.name
        self.fleet = os.path.join(self.dir, 'quorsel-fleet')
        with open(self.fleet, 'w') as f:
            f.write(FAKE_FLEET)
        os.chmod(self.fleet, 0o755)
        self.tmp = os.path.join(self.dir, 'module-tmp')
        os.mkdir(self.tmp)
        self.record = os.path.join(self.dir, 'site', 'record.json')

    def tearDown(self):
        self.work.cleanup()

    def run_module(self, fake_report, status, check_mode=False, **params):
        args = dict(firmware=['/srv/quorsel-KRV001'], targets=['10.0.0.0/24'], record=self.record,
                    executable=self.fleet, **params)
        args.update(_ansible_tmpdir=self.tmp, _ansible_check_mode=check_mode)
        path = os.path.join(self.dir, 'args.json')
        with open(path, 'w') as f:
            json.dump({'ANSIBLE_MODULE_ARGS': args}, f)
        env = dict(os.environ, FAKE_SEEN=os.path.join(self.dir, 'seen.json'),
                   FAKE_REPORT=json.dumps(fake_report), FAKE_STATUS=str(status))
        done = subprocess.run(['/usr/bin/python3', MODULE, path], env=env, capture_output=True, text=True,
                              timeout=60)
        with open(env['FAKE_SEEN']) as f:
            return done.stdout, json.loads(done.stdout), json.load(f)

    def test_the_password_reaches_the_fleet_only_through_a_private_file_removed_afterwards(self):
        failed = dict(entry('10.0.0.2', 'failed-before-writing'), reason='the password was rejected')
        out, result, seen = self.run_module(report([FILE_A], [entry('10.0.0.1', 'updated'), failed]), 1,
                                            password=self.PASSWORD)
        self.assertEqual(seen['first_line'], self.PASSWORD)
        self.assertEqual(seen['mode'], 0o600)
        self.assertFalse(os.path.exists(seen['password_file']))
        self.assertEqual(os.listdir(self.tmp), [])
        self.assertFalse(any(self.PASSWORD in a for a in seen['argv']))
        self.assertNotIn(self.PASSWORD, out)
        # The run failed at one access point: the failure names it, the update is a change and
        # both are in the record.
        self.assertTrue(result['failed'])
        self.assertTrue(result['changed'])
        self.assertIn('10.0.0.2 failed-before-writing', result['msg'])
        self.assertEqual(result['fleet_exit_status'], 1)
        with open(self.record) as f:
            self.assertEqual([e['result'] for e in json.load(f)['accessPoints']],
                             ['updated', 'failed-before-writing'])

    def test_nothing_to_update_is_no_failure_and_check_mode_writes_nothing(self):
        out, result, seen = self.run_module(report([FILE_A], [entry('10.0.0.1', 'planned')]), 0, check_mode=True)
        self.assertIn('--dry-run', seen['argv'])
        self.assertNotIn('--skip-updated', seen['argv'])
        self.assertTrue(result['changed'])
        self.assertFalse(os.path.exists(os.path.dirname(self.record)))

        os.makedirs(os.path.dirname(self.record))
        with open(self.record, 'w') as f:
            json.dump(report([FILE_A], [entry('10.0.0.1', 'updated')]), f)
        # An entry the fleet may take over from the record unchanged is no change of this run.
        out, result, seen = self.run_module(report([FILE_A], [entry('10.0.0.1', 'updated')]), 4)
        self.assertEqual(seen['argv'][seen['argv'].index('--skip-updated') + 1], self.record)
        self.assertNotIn('failed', result)
        self.assertFalse(result['changed'])
        self.assertEqual(result['fleet_exit_status'], 4)
        with open(self.record) as f:
            self.assertEqual(json.load(f)['accessPoints'][0]['result'], 'updated')


if __name__ == '__main__':
    unittest.main()

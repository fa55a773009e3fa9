"""quillmere edit as a process among others: what it shows other local users,
and what it leaves running when it is killed.

    edit_process_test.py --quillmere PROGRAM

Every process started here is ended here, by its own id, and every wait is
bounded.
"""

import argparse
import os
import re
import shutil
import signal
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'browser'))
import edit_harness as harness  # noqa: E402

OPTIONS = None

# Stands in for the desktop's opener: records its arguments and, while edit
# still runs, the mode and the text of the file it was handed.
STAND_IN_OPENER = '''#!/bin/sh
path=${1#file://}
stat -c %a "$path" > "$RECORD/mode"
cat "$path" > "$RECORD/page.part"
printf '%s\\n' "$path" > "$RECORD/path"
printf '%s\\0' "$0" "$@" > "$RECORD/argv"
mv "$RECORD/page.part" "$RECORD/page"
'''


def command_lines():
    """Every process's arguments that can be read, by process id."""
    lines = {}
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                with open(f'/proc/{entry}/cmdline', 'rb') as file:
                    lines[int(entry)] = file.read()
            except OSError:  # ended meanwhile
                pass
    return lines


def children_of(parent):
    """The ids of the processes whose parent is `parent`."""
    found = []
    for entry in os.listdir('/proc'):
        if entry.isdigit():
            try:
                with open(f'/proc/{entry}/stat') as file:
                    fields = file.read().rsplit(')', 1)[1].split()
            except OSError:
                continue
            if int(fields[1]) == parent:
                found.append(int(entry))
    return found


def running(pid):
    """Whether the process exists and has not exited (a zombie has)."""
    try:
        with open(f'/proc/{pid}/stat') as file:
            return file.read().rsplit(')', 1)[1].split()[0] != 'Z'
    except OSError:
        return False


class EditProcessTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='quillmere-edit-process-')
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)

    def test_open_hands_the_browser_a_private_page_not_the_token(self):
        harness.make_clip(os.path.join(self.folder, 'main.mp4'), '320x180', 10)
        record = os.path.join(self.folder, 'record')
        opener = os.path.join(self.folder, 'opener')
        runtime = os.path.join(self.folder, 'runtime')
        for folder in (record, opener, runtime):
            os.mkdir(folder, 0o700)
        with open(os.path.join(opener, 'xdg-open'), 'w') as file:
            file.write(STAND_IN_OPENER)
        os.chmod(os.path.join(opener, 'xdg-open'), 0o700)
        env = dict(os.environ, PATH=opener + os.pathsep + os.environ['PATH'], RECORD=record,
                   XDG_RUNTIME_DIR=runtime)

        server = harness.EditServer(OPTIONS.quillmere, ['main.mp4', '--open'], self.folder,
                                    env)
        try:
            harness.wait_until(lambda: os.path.exists(os.path.join(record, 'page')),
                               'the opener to be run')
            token = server.token.encode()
            holders = {pid: line for pid, line in command_lines().items() if token in line}
            self.assertEqual(holders, {}, 'processes whose arguments hold the token')
            with open(os.path.join(record, 'argv'), 'rb') as file:
                argv = file.read().split(b'\0')[:-1]
            self.assertEqual(len(argv), 2, argv)
            self.assertNotIn(token, argv[1])
            with open(os.path.join(record, 'path')) as file:
                page_path = file.read().strip()
            self.assertEqual(argv[1].decode(), 'file://' + page_path)
            self.assertTrue(page_path.startswith(runtime + os.sep), page_path)
            with open(os.path.join(record, 'mode')) as file:
                self.assertEqual(file.read().strip(), '600')
            self.assertEqual(stat.S_IMODE(os.stat(os.path.dirname(page_path)).st_mode), 0o700)
            with open(os.path.join(record, 'page')) as file:
                page = file.read()
            redirect = re.search(r'http-equiv="refresh" content="0;url=([^"]*)"', page)
            self.assertIsNotNone(redirect, page)
            self.assertEqual(redirect.group(1), server.address)
        finally:
            server.stop()
        self.assertEqual(os.listdir(runtime), [], 'the page and its folder are removed')

    def test_killed_edit_takes_its_render_with_it(self):
        # A render of about a minute here, far longer than the wait below.
        harness.make_clip(os.path.join(self.folder, 'main.mp4'), '640x360', 1500)
        server = harness.EditServer(
            OPTIONS.quillmere, ['main.mp4', '-o', 'slow.mp4', '--codec', 'libx264',
                                '--preset', 'placebo'], self.folder)
        children = []
        try:
            server.request('POST', '/api/render', {'replace': False})
            children = harness.wait_until(
                lambda: [pid for pid in children_of(server.process.pid) if running(pid)],
                'the render process')
            self.assertEqual(len(children), 1, children)
            os.kill(server.process.pid, signal.SIGKILL)
            server.process.wait(timeout=harness.WAIT_SECONDS)
            harness.wait_until(lambda: not running(children[0]),
                               'the render to end with its parent')
        finally:
            for pid in children:
                if running(pid):
                    os.kill(pid, signal.SIGKILL)
            if server.process.poll() is None:
                server.process.kill()
                server.process.wait(timeout=harness.WAIT_SECONDS)
            server.process.stdout.close()
            server.process.stderr.close()
        # It stopped as a cancelled render does: nothing under the output's name.
        self.assertEqual(sorted(os.listdir(self.folder)), ['main.mp4'])


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--quillmere', required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.quillmere = os.path.abspath(OPTIONS.quillmere)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == '__main__':
    main()

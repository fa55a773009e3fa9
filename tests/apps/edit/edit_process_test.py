"""quillmere edit as a process among others: what it shows other local users,
what it leaves running when it is killed, and the event streams that keep
its open pages in step.

    edit_process_test.py --quillmere PROGRAM

Every process started here is ended here, by its own id, and every wait is
bounded.
"""

import argparse
import os
import re
import json
import shutil
import signal
import socket
import stat
import sys
import tempfile
import time
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


# The most event streams open at once, and the time within which the server
# takes a whole request (which a stream lasts past).
MOST_STREAMS = 16
REQUEST_SECONDS = 10


class EventStream:
    """GET /api/events on a connection of its own, read as a page reads it."""

    def __init__(self, server):
        self.socket = socket.create_connection(('127.0.0.1', server.port),
                                               timeout=harness.WAIT_SECONDS)
        self.socket.sendall((f'GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:{server.port}\r\n'
                             f'{harness.TOKEN_HEADER}: {server.token}\r\n\r\n').encode())
        self.text = b''
        while b'\r\n\r\n' not in self.text:
            self.take()
        head, self.text = self.text.split(b'\r\n\r\n', 1)
        self.status = int(head.split(b' ')[1])
        self.head = head.decode()

    def take(self):
        """Reads what has come; raises EOFError at the end of the stream."""
        data = self.socket.recv(65536)
        if not data:
            raise EOFError
        self.text += data

    def event(self, wanted):
        """The next event for which wanted(name, data) holds."""
        while True:
            while b'\n\n' not in self.text:
                self.take()
            block, self.text = self.text.split(b'\n\n', 1)
            # Chunk framing: a line of the chunk's size in hex, and its end.
            lines = [line for line in block.decode().replace('\r', '').split('\n')
                     if line.startswith(('event: ', 'data: '))]
            fields = dict(line.split(': ', 1) for line in lines)
            if 'event' in fields and wanted(fields['event'], json.loads(fields['data'])):
                return fields['event'], json.loads(fields['data'])

    def read_to_end(self):
        """Everything until the server ends the stream (bounded by the socket's timeout)."""
        try:
            while True:
                self.take()
        except EOFError:
            return self.text

    def close(self):
        self.socket.close()


class EventStreamTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='quillmere-edit-events-')
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        harness.make_clip(os.path.join(self.folder, 'main.mp4'), '320x180', 10)
        self.server = harness.EditServer(OPTIONS.quillmere, ['main.mp4', '-o', 'out.mkv'],
                                         self.folder)
        self.addCleanup(self.server.stop)

    def test_a_stream_outlives_the_request_time_and_ends_when_the_server_stops(self):
        stream = EventStream(self.server)
        self.addCleanup(stream.close)
        self.assertEqual(stream.status, 200, stream.head)
        self.assertIn('Content-Type: text/event-stream', stream.head)
        _, first = stream.event(lambda name, data: name == 'session')
        stream.event(lambda name, data: name == 'render' and data['state'] == 'idle')
        # Past the time a request has to arrive in whole, the stream still
        # brings a change made by another page.
        time.sleep(REQUEST_SECONDS + 1)
        self.server.request('POST', '/api/settings', {'opacity': 40})
        _, changed = stream.event(lambda name, data: name == 'session' and
                                  data['revision'] > first['revision'])
        self.assertEqual(changed['settings']['opacity'], 40)
        # Quit ends it whole: the chunked answer's last chunk, then the end.
        self.server.request('POST', '/api/quit', {})
        self.assertTrue(stream.read_to_end().endswith(b'0\r\n\r\n'))
        self.assertEqual(self.server.process.wait(timeout=harness.WAIT_SECONDS), 0)

    def test_streams_are_bounded_and_a_closed_one_frees_its_place(self):
        streams = []
        try:
            for _ in range(MOST_STREAMS):
                stream = EventStream(self.server)
                streams.append(stream)
                self.assertEqual(stream.status, 200, stream.head)
                stream.event(lambda name, data: name == 'session')
            refused = EventStream(self.server)
            streams.append(refused)
            self.assertEqual(refused.status, 503, refused.head)
            reason = refused.read_to_end().decode()
            self.assertIn(f'at most {MOST_STREAMS}', reason)
            self.assertEqual(reason.count('\n'), 1, reason)
            # The page's requests still go through.
            self.assertEqual(self.server.session()['output'], 'out.mkv')

            streams.pop(0).close()

            def another_opens():
                stream = EventStream(self.server)
                streams.append(stream)
                return stream.status == 200
            harness.wait_until(another_opens, 'a place for another stream')
        finally:
            for stream in streams:
                stream.close()


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--quillmere', required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.quillmere = os.path.abspath(OPTIONS.quillmere)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == '__main__':
    main()

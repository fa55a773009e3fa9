"""How quickly `quillmere edit` answers the page, measured over the loopback
interface with the page's own requests (no browser), and how much memory
the edit process took:

    edit_speed.py --quillmere PROGRAM [--changes N] [--seeks N] [--minutes M]
                  [--play N] [--folder DIR]

- Settings change: on a 1080p main with an overlay, the border's width is
  changed N times, each from the settings request's start to the new
  1080p picture received (only what differs, as the page asks for it).
- Drag release: the mask moved N times, from the release request's start
  to the new picture received.
- Scrub: N random frames of an M-minute 1080p H.264 main with a key frame
  every 2 s, each from the request's start to the frame itself received
  (the page's quick request first, then the frame itself when the key
  frame came first). Nearby frames: a few frames on from the last shown,
  as a slider dragged slowly asks for them.
- Playback: N frames in order at a 960-wide preview, one request after the
  other as the page's Play makes them; frames a second.
- Peak memory: the edit process's peak resident set (VmHWM), read after all
  the above.

Prints a table of medians and 90th percentiles in milliseconds.
"""

import argparse
import http.client
import json
import os
import random
import shutil
import statistics
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests',
                                'apps', 'edit', 'browser'))
import edit_harness as harness  # noqa: E402

RATE = 25
KEY_SECONDS = 2
PREVIEW_WIDTH = 960
TOKEN_HEADER = 'X-Quillmere-Token'


class Client:
    """One kept-alive connection to the edit server, as the page's fetches
    reuse theirs."""

    def __init__(self, server):
        self.server = server
        self.connection = http.client.HTTPConnection('127.0.0.1', server.port, timeout=120)

    def request(self, method, path, body=None):
        headers = {TOKEN_HEADER: self.server.token}
        data = None
        if body is not None:
            headers['Content-Type'] = 'application/json'
            headers['Origin'] = self.server.base
            data = json.dumps(body).encode()
        self.connection.request(method, path, body=data, headers=headers)
        answer = self.connection.getresponse()
        content = answer.read()
        if answer.status != 200:
            raise AssertionError(f'{method} {path}: {answer.status} {content[:200]!r}')
        return answer, content

    def picture(self, at, over=0, quick=False, width=None):
        """(frame, exact, id, picture bytes) of the picture of frame `at`."""
        path = f'/api/picture?at={at}'
        if quick:
            path += '&quick=1'
        if over:
            path += f'&over={over}'
        if width:
            path += f'&width={width}'
        answer, content = self.request('GET', path)
        return (int(answer.getheader('X-Quillmere-Frame')),
                answer.getheader('X-Quillmere-Exact') == '1',
                int(answer.getheader('X-Quillmere-Picture')), content)

    def close(self):
        self.connection.close()


def picture_width(content):
    """The width of a PNG or JPEG picture, from its header."""
    if content[:8] == b'\x89PNG\r\n\x1a\n':
        return struct.unpack('>I', content[16:20])[0]
    at = 2
    while at + 9 < len(content):
        marker = content[at + 1]
        length = struct.unpack('>H', content[at + 2:at + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            return struct.unpack('>H', content[at + 7:at + 9])[0]
        at += 2 + length
    raise AssertionError('neither PNG nor JPEG')


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def timed(action):
    start = time.perf_counter()
    action()
    return (time.perf_counter() - start) * 1000


def peak_memory_mb(pid):
    with open(f'/proc/{pid}/status', encoding='ascii') as status:
        for line in status:
            if line.startswith('VmHWM:'):
                return int(line.split()[1]) / 1024
    return float('nan')


def measure(options, folder):
    rows = []
    main = os.path.join(folder, 'main.mp4')
    if not os.path.exists(main):
        print(f'making a {options.minutes}-minute 1080p H.264 main, a key frame every '
              f'{KEY_SECONDS} s ...', flush=True)
        harness.make_clip(main, '1920x1080', options.minutes * 60 * RATE,
                          key_every=KEY_SECONDS * RATE)
    overlay = os.path.join(folder, 'pip.mkv')
    if not os.path.exists(overlay):
        harness.make_clip(overlay, '640x360', 10 * RATE, pattern='smptebars',
                          codec=('-c:v', 'ffv1'))
    frames = options.minutes * 60 * RATE
    server = harness.EditServer(options.quillmere, [
        'main.mp4', '--overlay', 'pip.mkv', '--mask', '200,150,w960,h540', '--fit',
        '--border', '4', '--shadow', 'gradient-fixed'], folder)
    client = Client(server)
    try:
        shown = client.picture(0)[2]

        def change_settings(size):
            nonlocal shown
            client.request('POST', '/api/settings', {'border': {'size': size}})
            shown = client.picture(0, over=shown)[2]
        rows.append(('settings change to the new 1080p picture',
                     [timed(lambda: change_settings(5 + index % 10))
                      for index in range(options.changes)]))

        def release(left):
            nonlocal shown
            client.request('POST', '/api/mask', {'left': left, 'top': 150, 'right': left + 960,
                                                 'bottom': 690, 'moved': True})
            shown = client.picture(0, over=shown)[2]
        rows.append(('drag release to the new 1080p picture',
                     [timed(lambda: release(100 + index % 20 * 10))
                      for index in range(options.changes)]))

        picker = random.Random(KEY_SECONDS)

        def scrub(frame):
            nonlocal shown
            got, exact, shown, _ = client.picture(frame, over=shown, quick=True)
            while not exact:
                got, exact, shown, _ = client.picture(frame, over=shown)
            assert got == frame, (got, frame)
        rows.append((f'scrub to a random frame ({KEY_SECONDS} s GOP)',
                     [timed(lambda: scrub(picker.randrange(frames)))
                      for _ in range(options.seeks)]))

        nearby = []
        for _ in range(max(1, options.seeks // 5)):
            frame = picker.randrange(frames - 60)
            scrub(frame)
            time.sleep(0.3)  # the user's hand pauses; decoding may go on meanwhile
            for _ in range(5):
                frame += picker.randrange(1, 6)
                nearby.append(timed(lambda: scrub(frame)))
        rows.append(('scrub to a nearby frame (1-5 on)', nearby))

        start = picker.randrange(frames - options.play)
        widths = set()

        def play():
            for frame in range(start, start + options.play):
                got, _, _, content = client.picture(frame, width=PREVIEW_WIDTH)
                assert got == frame, (got, frame)
                widths.add(picture_width(content))
        elapsed = timed(play) / 1000
        fps = options.play / elapsed
        peak = peak_memory_mb(server.process.pid)
    finally:
        client.close()
        server.stop()
    return rows, fps, widths, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--quillmere', required=True)
    parser.add_argument('--changes', type=int, default=40)
    parser.add_argument('--seeks', type=int, default=40)
    parser.add_argument('--minutes', type=int, default=4)
    parser.add_argument('--play', type=int, default=200)
    parser.add_argument('--folder', help='keep the clips here, and reuse them')
    options = parser.parse_args()
    options.quillmere = os.path.abspath(options.quillmere)
    folder = options.folder or tempfile.mkdtemp(prefix='quillmere-edit-bench-')
    os.makedirs(folder, exist_ok=True)
    try:
        rows, fps, widths, peak = measure(options, folder)
    finally:
        if not options.folder:
            shutil.rmtree(folder, ignore_errors=True)
    print()
    print(f'| what | median ms | p90 ms | samples |')
    print(f'|---|---|---|---|')
    for name, values in rows:
        print(f'| {name} | {statistics.median(values):.0f} | {percentile(values, 0.9):.0f} '
              f'| {len(values)} |')
    shown = ', '.join(str(width) for width in sorted(widths))
    print(f'| playback, asked for {PREVIEW_WIDTH} wide (got {shown} wide) '
          f'| {fps:.1f} frames/s | | {options.play} |')
    print(f'| edit process peak memory (VmHWM) | {peak:.0f} MB | | |')


if __name__ == '__main__':
    main()

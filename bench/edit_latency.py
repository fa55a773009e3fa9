"""How quickly quillmere edit's page answers, measured in the page itself
with the browser's Performance API, through the same WebDriver harness as
the page's tests (Debian's Chromium, headless).

    edit_latency.py --quillmere PROGRAM [--changes N] [--seeks N] [--minutes M]

- Settings change to picture: a 1080p main with an overlay; the border's
  width is changed N times through its field, and each time from the
  field's change to the new picture drawn.
- Scrubbing: a 1080p H.264 clip of M minutes with a key frame every 2 s,
  and one with a key frame every 10 s; N random frames are asked for in the
  frame field, and each time from the field's change to the frame drawn
  (and, where the page shows the key frame first, to that).

Prints the median and the 95th percentile of each, in milliseconds.
"""

import argparse
import os
import random
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests',
                                'apps', 'edit', 'browser'))
import edit_harness as harness  # noqa: E402

RATE = 25


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def summary(name, values):
    if not values:
        return f'{name}: no samples'
    return (f'{name}: median {statistics.median(values):.0f} ms, '
            f'95th percentile {percentile(values, 0.95):.0f} ms '
            f'({len(values)} samples, {min(values):.0f}-{max(values):.0f} ms)')


def entries(browser):
    return browser.performance_entries()


def change_field(browser, selector, value):
    """Sets a field and fires its change event, as typing and leaving it does."""
    browser.script("const field = document.querySelector(arguments[0]);"
                   "field.value = arguments[1];"
                   "field.dispatchEvent(new Event('change'));", selector, str(value))


def settings_changes(program, folder, count):
    main = harness.make_clip(os.path.join(folder, 'main1080.mp4'), '1920x1080', 10 * RATE,
                             key_every=2 * RATE)
    harness.make_clip(os.path.join(folder, 'pip.mkv'), '640x360', 10 * RATE,
                      pattern='smptebars', codec=('-c:v', 'ffv1'))
    server = harness.EditServer(program, [os.path.basename(main), '--overlay', 'pip.mkv',
                                          '--mask', '200,150,w960,h540', '--fit', '--border',
                                          '4', '--shadow', 'gradient-fixed'], folder)
    browser = harness.Browser()
    try:
        browser.open(server)
        durations = []
        for index in range(count):
            before = len(entries(browser))
            change_field(browser, '[data-setting="border.size"]', 5 + index % 10)
            harness.wait_until(lambda: len(entries(browser)) > before, 'the new picture')
            durations.append(entries(browser)[-1]['duration'])
        return durations
    finally:
        browser.quit()
        server.stop()


def scrubbing(program, folder, minutes, key_seconds, count):
    frames = minutes * 60 * RATE
    name = f'long{key_seconds}.mp4'
    print(f'making a {minutes}-minute 1080p clip, a key frame every {key_seconds} s ...',
          flush=True)
    harness.make_clip(os.path.join(folder, name), '1920x1080', frames,
                      key_every=key_seconds * RATE)
    server = harness.EditServer(program, [name, '--mask', '1200,600,w640,h360'], folder)
    browser = harness.Browser()
    try:
        browser.open(server)
        exact, first = [], []
        picker = random.Random(key_seconds)
        for _ in range(count):
            frame = picker.randrange(frames)
            before = len(entries(browser))
            change_field(browser, '#frame-at', frame)

            def arrived():
                new = entries(browser)[before:]
                done = [e for e in new if e['detail']['exact'] and e['detail']['frame'] == frame]
                return (new, done[-1]) if done else None
            new, last = harness.wait_until(arrived, f'frame {frame}', seconds=120)
            exact.append(last['duration'])
            early = [e for e in new if not e['detail']['exact']]
            if early:
                first.append(early[0]['duration'])
        return exact, first
    finally:
        browser.quit()
        server.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--quillmere', required=True)
    parser.add_argument('--changes', type=int, default=60)
    parser.add_argument('--seeks', type=int, default=40)
    parser.add_argument('--minutes', type=int, default=10)
    options = parser.parse_args()
    options.quillmere = os.path.abspath(options.quillmere)
    folder = tempfile.mkdtemp(prefix='quillmere-edit-bench-')
    try:
        print(summary('settings change to picture, 1080p',
                      settings_changes(options.quillmere, folder, options.changes)), flush=True)
        for key_seconds in (2, 10):
            exact, first = scrubbing(options.quillmere, folder, options.minutes, key_seconds,
                                     options.seeks)
            print(summary(f'random frame, key frames every {key_seconds} s, the frame itself',
                          exact), flush=True)
            if first:
                print(summary(f'random frame, key frames every {key_seconds} s, its key frame '
                              'first', first), flush=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()

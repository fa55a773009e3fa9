"""What the tests and the benchmark of `quillmere edit` share: clips made
with ffmpeg, a `quillmere edit` process on the loopback interface, and
Debian's Chromium driven headless through WebDriver with real pointer
actions.

Every process started here is ended here, by its own id, and every wait is
bounded.
"""

import base64
import json
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.common.by import By

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
# Headless as root, with nothing reaching out to the network.
CHROMIUM_FLAGS = [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
]
TOKEN_HEADER = 'X-Quillmere-Token'
WAIT_SECONDS = 30
POLL_SECONDS = 0.05


def wait_until(condition, what, seconds=WAIT_SECONDS):
    """The condition's first true value, or an AssertionError naming `what`
    (text, or a function that tells what is the matter at the time)."""
    deadline = time.monotonic() + seconds
    last = None
    while time.monotonic() < deadline:
        last = condition()
        if last:
            return last
        time.sleep(POLL_SECONDS)
    raise AssertionError(f'timed out waiting for {what() if callable(what) else what} '
                         f'(last: {last!r})')


def run(command, timeout=300, cwd=None):
    """Runs a command, failing with its stderr when it fails."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout, check=False, cwd=cwd)
    if done.returncode != 0:
        raise AssertionError(f'{shlex.join(command)} failed ({done.returncode}): '
                             f'{done.stderr.decode(errors="replace")}')
    return done.stdout


def make_clip(path, size, frames, rate=25, pattern='testsrc2', codec=('-c:v', 'libx264',
              '-preset', 'ultrafast', '-pix_fmt', 'yuv420p'), key_every=None):
    """A clip of ffmpeg's test patterns."""
    command = ['ffmpeg', '-nostdin', '-v', 'error', '-y', '-f', 'lavfi', '-i',
               f'{pattern}=size={size}:rate={rate}', '-frames:v', str(frames), *codec]
    if key_every:
        command += ['-g', str(key_every), '-keyint_min', str(key_every), '-sc_threshold', '0']
    run(command + [path], timeout=1800)
    return path


def decoded_rgb(path_or_bytes):
    """Every pixel of a picture (a file, or PNG bytes) as decoded by ffmpeg."""
    if isinstance(path_or_bytes, bytes):
        with tempfile.NamedTemporaryFile(suffix='.png') as picture:
            picture.write(path_or_bytes)
            picture.flush()
            return decoded_rgb(picture.name)
    return run(['ffmpeg', '-nostdin', '-v', 'error', '-i', path_or_bytes, '-f', 'rawvideo',
                '-pix_fmt', 'rgb24', '-'])


def frame_of_command_line(program, command_line, frame, folder):
    """The pixels `quillmere frame` makes of frame `frame` with the settings of
    a page's `quillmere render` command line, run from `folder` as the
    page's paths are."""
    words = shlex.split(command_line)
    if words[:2] != ['quillmere', 'render']:
        raise AssertionError(f'not a render command line: {command_line}')
    options = words[3:]
    with tempfile.TemporaryDirectory(prefix='quillmere-frame-') as scratch:
        reference = os.path.join(scratch, 'reference.png')
        options[options.index('-o') + 1] = reference
        run([program, 'frame', words[2], *options, '--at', str(frame), '-y', '-q'], timeout=120,
            cwd=folder)
        return decoded_rgb(reference)


def frame_checksums(path):
    """One checksum per decoded video frame."""
    text = run(['ffmpeg', '-nostdin', '-v', 'error', '-i', path, '-map', '0:v', '-f',
                'framemd5', '-']).decode()
    return [line.split(',')[-1].strip() for line in text.splitlines()
            if line and not line.startswith('#')]


class PageTestCase(unittest.TestCase):
    """Tests of the page of one server that setUpClass starts, with its files in
    cls.folder: open_browser() starts the browser (or stops the server when it
    cannot), and the browser, the server and the folder go with the class."""

    @classmethod
    def open_browser(cls, *size):
        try:
            cls.browser = Browser(*size)
        except Exception:
            try:
                cls.server.stop()
            finally:
                raise

    @classmethod
    def tearDownClass(cls):
        try:
            cls.browser.quit()
            cls.server.stop()
        finally:
            shutil.rmtree(cls.folder, ignore_errors=True)


class EditServer:
    """`quillmere edit` running until stop()."""

    def __init__(self, program, arguments, folder, env=None):
        self.process = subprocess.Popen([program, 'edit', *arguments], cwd=folder,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL, env=env)
        line = self.process.stdout.readline().decode().strip()
        match = re.fullmatch(r'http://127\.0\.0\.1:(\d+)/#token=([0-9a-f]{32})', line)
        if not match:
            self.process.kill()
            self.process.wait(timeout=WAIT_SECONDS)
            raise AssertionError(f'quillmere edit printed {line!r}; '
                                 f'stderr: {self.process.stderr.read().decode()}')
        self.address = line
        self.port = int(match.group(1))
        self.token = match.group(2)
        self.base = f'http://127.0.0.1:{self.port}'

    def request(self, method, path, body=None):
        """The server's answer to a request made as the page makes it."""
        headers = {TOKEN_HEADER: self.token}
        data = None
        if body is not None:
            headers['Content-Type'] = 'application/json'
            headers['Origin'] = self.base
            data = json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, headers=headers,
                                         method=method)
        with urllib.request.urlopen(request, timeout=WAIT_SECONDS) as answer:
            return answer.read()

    def session(self):
        return json.loads(self.request('GET', '/api/session'))

    def stop(self):
        """Quits through the page's request; kills the process if it will not
        go. Raises when it did not end cleanly (exit status 0)."""
        if self.process.poll() is None:
            try:
                self.request('POST', '/api/quit', {})
                self.process.wait(timeout=WAIT_SECONDS)
            except Exception:  # the process is ended below whatever went wrong
                pass
        killed = self.process.poll() is None
        if killed:
            self.process.kill()
            self.process.wait(timeout=WAIT_SECONDS)
        errors = self.process.stderr.read().decode(errors='replace')
        self.process.stdout.close()
        self.process.stderr.close()
        if killed or self.process.returncode != 0:
            raise AssertionError(f'quillmere edit did not quit cleanly '
                                 f'({"killed" if killed else self.process.returncode}): '
                                 f'{errors}')


class Browser:
    """Headless Chromium through chromedriver."""

    def __init__(self, width=1400, height=1060):
        self.profile = tempfile.TemporaryDirectory(prefix='quillmere-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in CHROMIUM_FLAGS + [f'--user-data-dir={self.profile.name}',
                                      f'--window-size={width},{height}']:
            options.add_argument(flag)
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.set_script_timeout(WAIT_SECONDS)

    def quit(self):
        self.driver.quit()
        self.profile.cleanup()

    def open(self, server):
        self.server = server
        self.driver.get(server.address)
        wait_until(lambda: self.picture_source(), 'the first picture')

    def element(self, element_id):
        return self.driver.find_element(By.ID, element_id)

    def setting(self, name):
        return self.driver.find_element(By.CSS_SELECTOR, f'[data-setting="{name}"]')

    def script(self, text, *arguments):
        return self.driver.execute_script(text, *arguments)

    def picture_source(self):
        return self.script("return document.getElementById('picture').dataset.source || ''")

    def picture_box(self):
        """The picture's displayed box in viewport pixels."""
        return self.script("const r = document.getElementById('picture')"
                           ".getBoundingClientRect();"
                           "return {left: r.left, top: r.top, width: r.width, height: r.height};")

    def wait_for_picture_of(self, revision):
        """Waits until the page shows the picture of the settings' `revision`,
        of the frame itself (not its key frame meanwhile)."""
        def shown():
            source, exact = self.script("const d = document.getElementById('picture').dataset;"
                                        "return [d.source || '', d.exact];")
            match = re.search(r'revision=(\d+)', source)
            return match and int(match.group(1)) == revision and exact == 'true'

        return wait_until(shown, f'the picture of revision {revision}')

    def fetch_shown_picture(self):
        """The bytes of the picture the page shows, fetched as the page fetched it."""
        encoded = self.driver.execute_async_script("""
            const [path, header, token, done] = arguments;
            fetch(path, {headers: {[header]: token}})
              .then((answer) => answer.arrayBuffer())
              .then((buffer) => {
                let text = '';
                const bytes = new Uint8Array(buffer);
                for (let i = 0; i < bytes.length; i += 0x8000) {
                  text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                }
                done(btoa(text));
              }, (error) => done('error: ' + error));
            """, self.picture_source(), TOKEN_HEADER, self.server.token)
        if encoded.startswith('error: '):
            raise AssertionError(encoded)
        return base64.b64decode(encoded)

    def canvas_rgb(self):
        """The pixels on the page's canvas, as it shows them, in RGB."""
        encoded = self.script("""
            const canvas = document.getElementById('picture');
            const data = canvas.getContext('2d')
              .getImageData(0, 0, canvas.width, canvas.height).data;
            let text = '';
            for (let i = 0; i < data.length; i += 0x8000) {
              text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
            }
            return btoa(text);""")
        rgba = base64.b64decode(encoded)
        return b''.join(rgba[i:i + 3] for i in range(0, len(rgba), 4))

    def pointer(self, steps):
        """Performs pointer steps: ('move', x, y), ('down',), ('up',), in viewport
        pixels; ('down', button) and ('up', button) press another button
        (1: the middle one)."""
        mouse = PointerInput(interaction.POINTER_MOUSE, 'mouse')
        actions = ActionBuilder(self.driver, mouse=mouse, duration=50)
        for step in steps:
            if step[0] == 'move':
                actions.pointer_action.move_to_location(int(step[1]), int(step[2]))
            elif step[0] == 'down':
                actions.pointer_action.pointer_down(*step[1:])
            else:
                actions.pointer_action.pointer_up(*step[1:])
        actions.perform()

    def hold_keys(self, keys, down):
        """Presses (or lets go of) `keys`; they stay pressed for the pointer
        actions in between, as modifiers."""
        actions = ActionBuilder(self.driver)
        for key in keys:
            if down:
                actions.key_action.key_down(key)
            else:
                actions.key_action.key_up(key)
        actions.perform()

    def wheel(self, x, y, delta_y):
        """Turns the wheel by `delta_y` pixels over viewport point (x, y)."""
        actions = ActionBuilder(self.driver)
        actions.wheel_action.scroll(int(x), int(y), 0, int(delta_y))
        actions.perform()

    def module_call(self, module, function, *arguments):
        """What the page's module `module` (a file the page loads) answers to
        `function`(*arguments); what it throws fails the test."""
        answer = self.driver.execute_async_script("""
            const [module, name, args, done] = arguments;
            import(module).then((loaded) => {
              try {
                done({value: loaded[name](...args)});
              } catch (error) {
                done({error: String(error)});
              }
            }, (error) => done({error: String(error)}));
            """, '/' + module, function, list(arguments))
        if 'error' in answer:
            raise AssertionError(f'{module} {function}{tuple(arguments)}: {answer["error"]}')
        return answer.get('value')

    def readouts(self):
        return {name: self.element(f'ro-{name}').get_attribute('value')
                for name in ('left', 'top', 'right', 'bottom', 'size')}

    def performance_entries(self):
        return self.script("return performance.getEntriesByName('quillmere-picture')"
                           ".map((e) => ({duration: e.duration, detail: e.detail}));")

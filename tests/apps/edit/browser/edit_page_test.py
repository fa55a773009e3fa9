"""quillmere edit's page in a real browser: Debian's Chromium, headless,
driven through WebDriver with real pointer actions.

    edit_page_test.py --quillmere PROGRAM --artefacts FOLDER

The picture is shown at half its size, so every pointer position maps to
picture pixels through a display scale other than 1; the expected mask is
worked out here from the picture's displayed box. Pictures are compared with
what `quillmere frame` makes of the same settings, decoded by ffmpeg.
"""

import argparse
import glob
import http.client
import json
import math
import os
import shlex
import shutil
import socket
import sys
import tempfile
import time
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import edit_harness as harness  # noqa: E402

OPTIONS = None

MAIN_SIZE = (1280, 720)
MAIN_FRAMES = 40
KEY_EVERY = 10
ZOOM = '0.5'


def picture_point(box, x, y):
    """The pixel edge nearest a viewport point, as the page maps it."""
    return (math.floor((x - box['left']) * MAIN_SIZE[0] / box['width'] + 0.5),
            math.floor((y - box['top']) * MAIN_SIZE[1] / box['height'] + 0.5))


def viewport_point(box, px, py):
    """A viewport point (whole CSS pixels) over picture point (px, py)."""
    return (round(box['left'] + px * box['width'] / MAIN_SIZE[0]),
            round(box['top'] + py * box['height'] / MAIN_SIZE[1]))


def plugin_readouts(left, top, right, bottom):
    """The read-outs of a mask: its corners ordered and clamped to the frame size
    as the plug-in shows them, and the size drawn between them."""
    width, height = MAIN_SIZE
    l, r = max(0, min(left, right)), min(width, max(left, right))
    t, b = max(0, min(top, bottom)), min(height, max(top, bottom))
    return {'left': str(l), 'top': str(t), 'right': str(r), 'bottom': str(b),
            'size': f'{max(r - l, 0)} x {max(b - t, 0)}'}


class EditPageTest(harness.PageTestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='quillmere-edit-test-')
        cls.main = harness.make_clip(os.path.join(cls.folder, 'main.mp4'),
                                     f'{MAIN_SIZE[0]}x{MAIN_SIZE[1]}', MAIN_FRAMES,
                                     key_every=KEY_EVERY)
        # Longer than the main: every main frame shows an overlay frame.
        cls.overlay = harness.make_clip(os.path.join(cls.folder, 'pip.mkv'), '320x180',
                                        MAIN_FRAMES + 10, pattern='smptebars',
                                        codec=('-c:v', 'ffv1'))
        cls.output = os.path.join(cls.folder, 'page.mkv')
        cls.settings = os.path.join(cls.folder, 'look.json')
        cls.server = harness.EditServer(
            OPTIONS.quillmere, ['main.mp4', '--overlay', 'pip.mkv', '-o', 'page.mkv',
                                '--settings', 'look.json'], cls.folder)
        cls.open_browser()
        cls.browser.open(cls.server)
        Select(cls.browser.element('zoom')).select_by_value(ZOOM)

    def setUp(self):
        self.box = self.browser.picture_box()
        # Half size: every CSS pixel is two picture pixels.
        self.assertAlmostEqual(self.box['width'], MAIN_SIZE[0] * float(ZOOM), delta=0.01)

    def drag(self, start, end, check_midway=None):
        """Presses at `start`, moves to `end` in two steps, and releases; `start`
        and `end` are viewport points. Calls check_midway() before the release."""
        middle = ((start[0] + end[0]) // 2, (start[1] + end[1]) // 2)
        self.browser.pointer([('move', *start), ('down',), ('move', *middle),
                              ('move', *end)])
        if check_midway:
            check_midway()
        self.browser.pointer([('up',)])

    def mask_after_release(self, revision_before):
        session = harness.wait_until(
            lambda: (lambda s: s if s['revision'] > revision_before else None)(
                self.server.session()), 'the released mask')
        mask = session['mask']
        return session, (mask['left'], mask['top'], mask['right'], mask['bottom'])

    def type_over(self, field, text):
        """Selects what the field holds and types `text` over it, then Enter."""
        field.send_keys(Keys.CONTROL, 'a')
        field.send_keys(text, Keys.ENTER)

    def set_mask_text(self, text, expected):
        field = self.browser.element('mask-text')
        self.type_over(field, text)
        harness.wait_until(lambda: self.server.session()['maskText'] == expected,
                           'the mask text')
        # And the page has the answer, which sets the field's text anew.
        harness.wait_until(lambda: field.get_attribute('value') == expected,
                           lambda: 'the page to show ' + expected)

    def test_drag_draws_moves_resizes_and_clips(self):
        box = self.box
        self.set_mask_text('1100 600 1200 680', '1100 600 1200 680')
        # Draw: from picture pixel (100, 80) to (500, 330), outside the default
        # placement at the bottom right.
        start = viewport_point(box, 100, 80)
        end = viewport_point(box, 500, 330)
        left, top = picture_point(box, *start)
        right, bottom = picture_point(box, *end)
        before = self.server.session()['revision']

        def live_readouts():
            harness.wait_until(lambda: self.browser.readouts() ==
                               plugin_readouts(left, top, right, bottom),
                               'the read-outs while dragging')
        self.drag(start, end, live_readouts)
        session, mask = self.mask_after_release(before)
        self.assertEqual(mask, (left, top, right, bottom))
        self.assertEqual(self.browser.readouts(), plugin_readouts(*mask))
        self.assertEqual(session['configLine'], 'Config(%d,%d,%d,%d)' % mask)
        self.assertNotIn('placement', session['settings'])

        # Move: grab the middle, let go 60 CSS pixels right and 25 down.
        grab = viewport_point(box, (left + right) // 2, (top + bottom) // 2)
        drop = (grab[0] + 60, grab[1] + 25)
        dx = picture_point(box, *drop)[0] - picture_point(box, *grab)[0]
        dy = picture_point(box, *drop)[1] - picture_point(box, *grab)[1]
        before = session['revision']
        self.drag(grab, drop)
        session, moved = self.mask_after_release(before)
        self.assertEqual(moved, (left + dx, top + dy, right + dx, bottom + dy))

        # Resize from the top-left corner.
        corner = viewport_point(box, moved[0], moved[1])
        target = (corner[0] - 30, corner[1] + 10)
        new_left, new_top = picture_point(box, *target)
        before = session['revision']
        self.drag(corner, target)
        session, resized = self.mask_after_release(before)
        self.assertEqual(resized, (new_left, new_top, moved[2], moved[3]))

        # A drag that ends past the picture's right and bottom edges is cut back.
        start = viewport_point(box, 900, 500)
        end = (int(box['left'] + box['width'] + 40), int(box['top'] + box['height'] + 30))
        first = picture_point(box, *start)
        before = session['revision']
        self.drag(start, end)
        session, clipped = self.mask_after_release(before)
        self.assertEqual(clipped, (first[0], first[1], MAIN_SIZE[0], MAIN_SIZE[1]))
        self.assertEqual(self.browser.readouts(), plugin_readouts(*clipped))

        # Keep Aspect: the height follows the 320x180 overlay's aspect, as the
        # plug-in draws (the product truncated). The press lies clear of the
        # lines a drag snaps to.
        self.browser.setting('keepAspect').click()
        harness.wait_until(lambda: self.server.session()['settings']['keepAspect'],
                           'Keep Aspect')
        start = viewport_point(box, 90, 90)
        end = viewport_point(box, 461, 700)
        left, top = picture_point(box, *start)
        right = picture_point(box, *end)[0]
        before = self.server.session()['revision']
        self.drag(start, end)
        session, kept = self.mask_after_release(before)
        self.assertEqual(kept, (left, top, right, top + (right - left) * 180 // 320))
        self.browser.setting('keepAspect').click()
        harness.wait_until(lambda: not self.server.session()['settings']['keepAspect'],
                           'Keep Aspect off')

    def test_a_mask_moved_past_the_edges_keeps_its_size(self):
        box = self.box
        self.set_mask_text('900 450 w300 h200', '900 450 1200 650')
        grab = viewport_point(box, 1050, 550)
        drop = (int(box['left'] + box['width'] + 20), int(box['top'] + box['height'] + 10))
        dx = picture_point(box, *drop)[0] - picture_point(box, *grab)[0]
        dy = picture_point(box, *drop)[1] - picture_point(box, *grab)[1]
        before = self.server.session()['revision']

        def no_scrollbars():
            overflow = self.browser.script(
                "const s = document.getElementById('stage-scroll');"
                "return [s.scrollWidth - s.clientWidth, s.scrollHeight - s.clientHeight];")
            self.assertEqual(overflow, [0, 0], 'the outline spills out of the picture')
        self.drag(grab, drop, no_scrollbars)
        session, moved = self.mask_after_release(before)
        self.assertEqual(moved, (900 + dx, 450 + dy, 1200 + dx, 650 + dy))
        self.assertGreater(moved[2], MAIN_SIZE[0])
        self.assertGreater(moved[3], MAIN_SIZE[1])
        # The page shows the server's answer once it has it.
        field = self.browser.element('mask-text')
        harness.wait_until(lambda: field.get_attribute('value') == '%d %d %d %d' % moved,
                           lambda: 'the moved corners; the field says ' +
                           field.get_attribute('value'))
        self.assertEqual(self.browser.readouts(), plugin_readouts(*moved))

    def test_corners_the_runner_cannot_read_are_refused_beside_the_field(self):
        self.set_mask_text('100 80 w400 h250', '100 80 500 330')
        field = self.browser.element('mask-text')
        error = self.browser.element('mask-text-error')
        before = self.server.session()
        for text in ['abc', '1e3 20 300 400', '10 20 30 40 junk']:
            self.type_over(field, text)
            harness.wait_until(lambda: 'expected' in error.text, 'the reason for ' + text)
            self.assertIn('Corners', error.text)
            # The text stays to be mended; nothing changed.
            self.assertEqual(field.get_attribute('value'), text)
            self.assertEqual(self.server.session()['revision'], before['revision'])
        self.set_mask_text('120 90 w400 h250', '120 90 520 340')
        harness.wait_until(lambda: error.text == '', 'the reason cleared')

    def shown_frame(self):
        return self.browser.script("const d = document.getElementById('picture').dataset;"
                                   "return d.exact === 'true' ? Number(d.frame) : null;")

    def test_arrow_keys_step_one_frame(self):
        self.show_frame(5)
        self.browser.driver.find_element(By.CSS_SELECTOR, 'h1').click()  # off the fields
        ActionChains(self.browser.driver).send_keys(Keys.ARROW_RIGHT).perform()
        harness.wait_until(lambda: self.shown_frame() == 6, 'the next frame')
        ActionChains(self.browser.driver).send_keys(Keys.ARROW_LEFT, Keys.ARROW_LEFT).perform()
        harness.wait_until(lambda: self.shown_frame() == 4, 'two frames back')

    def test_play_advances_the_frame_and_pause_shows_it_exactly(self):
        self.show_frame(2)
        slider = "return Number(document.getElementById('frame-slider').value)"
        playing = "return document.getElementById('play').dataset.playing"
        self.browser.element('play').click()
        harness.wait_until(lambda: self.browser.script(slider) >= 6,
                           lambda: 'playback to reach frame 6; the page says ' +
                           self.browser.script("return document.getElementById('status')"
                                               ".textContent"))
        # Paused unless it has run to the last frame and stopped by itself.
        self.browser.script("const play = document.getElementById('play');"
                            "if (play.dataset.playing === 'true') { play.click(); }")
        harness.wait_until(lambda: self.browser.script(playing) == 'false', 'the pause')
        reached = self.browser.script(slider)
        self.assertGreaterEqual(reached, 6)
        self.assertLess(reached, MAIN_FRAMES)
        # The frame reached, as the exact picture again.
        harness.wait_until(lambda: self.browser.script(
            "const d = document.getElementById('picture').dataset;"
            "return d.frame + ':' + d.exact") == f'{reached}:true', f'frame {reached} exactly')

    def set_number(self, name, value):
        # A field opens once the runner has answered the change that opens it.
        field = self.browser.setting(name)
        harness.wait_until(field.is_enabled, f'{name} to open')
        self.type_over(field, str(value))

    def change_look(self):
        """Mask by text, border and a shadow with random variation and a fresh
        seed from the New seed button, set through the page's own controls."""
        self.set_mask_text('300 200 w480 h270', '300 200 780 470')
        if not self.browser.setting('border.on').is_selected():
            self.browser.setting('border.on').click()
        self.set_number('border.size', 6)
        if not self.browser.setting('shadow.on').is_selected():
            self.browser.setting('shadow.on').click()
        style = self.browser.setting('shadow.style')
        harness.wait_until(style.is_enabled, 'the shadow styles to open')
        Select(style).select_by_value('gradient-random-fixed')
        self.set_number('shadow.shift', 12)
        first_seed = self.server.session()['settings']['seed']
        new_seed = self.browser.driver.find_element(By.CSS_SELECTOR, '[data-new-value="seed"]')
        harness.wait_until(new_seed.is_enabled, 'the New seed button to open')
        new_seed.click()
        session = harness.wait_until(
            lambda: (lambda s: s if s['settings']['shadow']['shift'] == 12 and
                     s['settings']['shadow']['style'] == 'gradient-random-fixed' and
                     s['settings']['seed'] != first_seed and
                     s['settings']['border']['size'] == 6 else None)(self.server.session()),
            'the settings')
        self.assertIn(f"--seed {session['settings']['seed']}", session['commandLine'])
        return session

    def show_frame(self, frame):
        self.type_over(self.browser.element('frame-at'), str(frame))
        harness.wait_until(lambda: self.browser.script(
            "const d = document.getElementById('picture').dataset;"
            "return d.frame + ':' + d.exact") == f'{frame}:true',
            lambda: f'frame {frame}; the page says ' + self.browser.script(
                "return document.getElementById('status').textContent + ' ' +"
                "JSON.stringify(document.getElementById('picture').dataset)"))

    def test_picture_command_line_and_settings_file_agree_with_the_runner(self):
        frame = 27  # not a key frame: the runner decodes its way to it
        self.show_frame(frame)
        # Each change now sends only the part of the picture that differs.
        session = self.change_look()
        self.browser.wait_for_picture_of(session['revision'])
        shown = harness.decoded_rgb(self.browser.fetch_shown_picture())

        # The page's own command line, run as a frame command.
        words = shlex.split(session['commandLine'])
        self.assertEqual(words[:2], ['quillmere', 'render'])
        self.assertIn('--border', words)
        reference = os.path.join(self.folder, 'reference.png')
        at_frame = words[3:]
        output = at_frame.index('-o')
        at_frame[output + 1] = reference
        # The paths were typed relative to the folder edit started in; the
        # line runs from any other, and the page names that folder.
        self.assertEqual(session['commandFolder'], os.path.realpath(self.folder))
        self.assertIn(session['commandFolder'], self.browser.element('command-folder').text)
        elsewhere = tempfile.mkdtemp(prefix='quillmere-edit-elsewhere-')
        try:
            harness.run([OPTIONS.quillmere, 'frame', words[2], *at_frame, '--at', str(frame),
                         '-y', '-q'], timeout=120, cwd=elsewhere)
        finally:
            shutil.rmtree(elsewhere, ignore_errors=True)
        self.assertEqual(shown, harness.decoded_rgb(reference),
                         'the page shows what quillmere frame makes')
        # And the canvas holds it, laid together from what the page fetched.
        self.assertEqual(self.browser.canvas_rgb(), shown)
        # It was composited: the white border lies left of the mask's middle row.
        left, top, bottom = session['mask']['left'], session['mask']['top'], \
            session['mask']['bottom']
        border = ((top + bottom) // 2 * MAIN_SIZE[0] + left - 3) * 3
        self.assertEqual(shown[border:border + 3], b'\xff\xff\xff')

        # Save, and the file reproduces the picture through --settings.
        self.browser.element('save').click()
        harness.wait_until(lambda: os.path.exists(self.settings), 'the saved settings file')
        with open(self.settings) as saved:
            document = json.load(saved)
        self.assertEqual(document['format'], 'quillmere-settings')
        self.assertEqual(document['mask'], session['mask'])
        from_file = os.path.join(self.folder, 'from-file.png')
        harness.run([OPTIONS.quillmere, 'frame', self.main, '--settings', self.settings,
                     '--at', str(frame), '-o', from_file, '-q'], timeout=120)
        self.assertEqual(shown, harness.decoded_rgb(from_file),
                         'the saved settings give the same picture')

        if OPTIONS.artefacts:
            # The page as a user first sees it: the picture fitted to the window.
            zoom = Select(self.browser.element('zoom'))
            zoom.select_by_value('fit')
            os.makedirs(OPTIONS.artefacts, exist_ok=True)
            self.browser.driver.save_screenshot(os.path.join(OPTIONS.artefacts,
                                                             'edit-page.png'))
            zoom.select_by_value(ZOOM)

    def test_render_from_the_page_matches_the_command_line(self):
        self.change_look()
        progress_seen = []
        self.browser.element('render').click()

        def finished():
            state = self.browser.element('render-info').get_attribute('data-state')
            value = self.browser.element('render-progress').get_attribute('value')
            progress_seen.append((state, value))
            return state in ('done', 'failed', 'cancelled') and state
        state = harness.wait_until(finished, 'the render', seconds=240)
        self.assertEqual(state, 'done', self.browser.element('render-info').text)
        self.assertTrue(any(seen[0] == 'running' for seen in progress_seen), progress_seen)
        self.assertIn('page.mkv', self.browser.element('render-info').text)
        rendered = harness.frame_checksums(self.output)
        self.assertEqual(len(rendered), MAIN_FRAMES)

        # The same render from the saved settings file.
        self.browser.element('save').click()
        harness.wait_until(lambda: os.path.exists(self.settings), 'the saved settings file')
        from_file = os.path.join(self.folder, 'from-file.mkv')
        harness.run([OPTIONS.quillmere, 'render', self.main, '--settings', self.settings,
                     '-o', from_file, '-q'], timeout=240)
        self.assertEqual(harness.frame_checksums(from_file), rendered)

        # Again: the output exists now, and the page asks before replacing it.
        self.browser.element('render').click()
        question = self.browser.element('replace-question')
        harness.wait_until(question.is_displayed, 'the question')
        self.assertIn('already exists', self.browser.element('replace-text').text)
        self.browser.element('replace-no').click()
        self.assertEqual(harness.frame_checksums(self.output), rendered)

    def test_bad_requests_are_refused_and_the_server_lives_on(self):
        port, token = self.server.port, self.server.token
        own = f'127.0.0.1:{port}'

        def ask(method, path, headers=None, body=None, host=own):
            connection = http.client.HTTPConnection('127.0.0.1', port, timeout=30)
            try:
                connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
                connection.putheader('Host', host)
                for name, value in (headers or {}).items():
                    connection.putheader(name, value)
                if body is not None:
                    connection.putheader('Content-Length', str(len(body)))
                connection.endheaders(body)
                answer = connection.getresponse()
                return answer.status, answer.getheaders(), answer.read()
            finally:
                connection.close()

        def still_answers():
            status, _, _ = ask('GET', '/api/session', {harness.TOKEN_HEADER: token})
            self.assertEqual(status, 200, 'the server answers after a refusal')

        good = {harness.TOKEN_HEADER: token, 'Origin': f'http://{own}',
                'Content-Type': 'application/json'}
        no_token = {k: v for k, v in good.items() if k != harness.TOKEN_HEADER}
        requests = [('GET', '/api/session', None), ('GET', '/api/picture?at=0', None),
                    ('GET', '/api/readouts?mask=1,1,9,9', None), ('GET', '/api/render', None),
                    ('POST', '/api/settings', b'{}'), ('POST', '/api/mask', b'{}'),
                    ('POST', '/api/save', b'{}'), ('POST', '/api/render', b'{}'),
                    ('POST', '/api/render/cancel', b'{}'), ('POST', '/api/quit', b'{}'),
                    ('GET', '/api/events', None)]
        for method, path, body in requests:
            with self.subTest('no token', path=path, method=method):
                self.assertEqual(ask(method, path, no_token, body)[0], 403)
                still_answers()
        cases = [
            ('wrong token', 'GET', '/api/session',
             {**good, harness.TOKEN_HEADER: '0' * 32}, None, own, 403),
            ('foreign host', 'GET', '/api/session', good, None, f'attacker.example:{port}', 403),
            ('foreign origin', 'POST', '/api/settings',
             {**good, 'Origin': 'http://attacker.example'}, b'{}', own, 403),
            ('no origin', 'POST', '/api/settings',
             {k: v for k, v in good.items() if k != 'Origin'}, b'{}', own, 403),
            ('path outside the app', 'GET', '/../../etc/passwd', good, None, own, 404),
            ('malformed JSON', 'POST', '/api/settings', good, b'{"border": ', own, 400),
            ('number beyond any type', 'POST', '/api/settings', good, b'{"offset": 7e37777}',
             own, 400),
            ('unknown setting', 'POST', '/api/settings', good, b'{"sharpness": 3}', own, 400),
            ('out of range', 'POST', '/api/settings', good,
             b'{"shadow": {"percent": 250}}', own, 400),
            ('preflight', 'OPTIONS', '/api/settings',
             {'Origin': 'http://attacker.example',
              'Access-Control-Request-Method': 'POST'}, None, own, 403),
        ]
        for name, method, path, headers, body, host, status in cases:
            with self.subTest(name):
                answer_status, answer_headers, answer_body = ask(method, path, headers, body,
                                                                 host)
                self.assertEqual(answer_status, status, answer_body)
                self.assertEqual(answer_body.decode().count('\n'), 1, 'one line of reason')
                names = {header.lower(): value for header, value in answer_headers}
                self.assertNotIn('access-control-allow-origin', names)
                self.assertEqual(names.get('content-security-policy'), "default-src 'self'")
                still_answers()

        with self.subTest('10 MB body'):
            # Refused from its headers, before the body is sent.
            with socket.create_connection(('127.0.0.1', port), timeout=30) as raw:
                raw.sendall((f'POST /api/settings HTTP/1.1\r\nHost: {own}\r\n'
                             f'{harness.TOKEN_HEADER}: {token}\r\nOrigin: http://{own}\r\n'
                             'Content-Type: application/json\r\n'
                             f'Content-Length: {10 * 1024 * 1024}\r\n\r\n').encode())
                answer = raw.recv(4096).decode(errors='replace')
            self.assertTrue(answer.startswith('HTTP/1.1 413'), answer)
            still_answers()


class CancelledRenderTest(unittest.TestCase):
    """A render slow enough to be cancelled on the way: nothing is left."""

    def test_cancel_leaves_no_file(self):
        folder = tempfile.mkdtemp(prefix='quillmere-edit-cancel-')
        try:
            harness.make_clip(os.path.join(folder, 'main.mp4'), '640x360', 150)
            server = harness.EditServer(
                OPTIONS.quillmere, ['main.mp4', '-o', 'slow.mp4', '--codec', 'libx264',
                                    '--preset', 'veryslow'], folder)
            try:
                browser = harness.Browser(1200, 900)
                try:
                    browser.open(server)
                    browser.element('render').click()
                    info = browser.element('render-info')
                    harness.wait_until(lambda: info.get_attribute('data-state') == 'running',
                                       'the render to start')
                    browser.element('cancel').click()
                    harness.wait_until(lambda: info.get_attribute('data-state') == 'cancelled',
                                       'the render to stop')
                    self.assertIn('nothing was written', info.text)
                finally:
                    browser.quit()
            finally:
                server.stop()
            self.assertEqual(sorted(os.listdir(folder)), ['main.mp4'],
                             'no output and no part file')
        finally:
            shutil.rmtree(folder, ignore_errors=True)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--quillmere', required=True)
    parser.add_argument('--artefacts', default='')
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.quillmere = os.path.abspath(OPTIONS.quillmere)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == '__main__':
    main()

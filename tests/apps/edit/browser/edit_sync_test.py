"""quillmere edit's page open in two windows of one browser: a change made in
either shows in the other, and either sees and can cancel the render the
other started. Also what the page says only while it holds: an output kept,
a picture that could not be had.

    edit_sync_test.py --quillmere PROGRAM
"""

import argparse
import os
import re
import sys
import tempfile
import unittest
import urllib.error

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import edit_harness as harness  # noqa: E402

OPTIONS = None
MAIN_FRAMES = 150


class TwoPagesTest(harness.PageTestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='quillmere-edit-sync-')
        harness.make_clip(os.path.join(cls.folder, 'main.mp4'), '640x360', MAIN_FRAMES)
        # A render slow enough to be seen and cancelled on the way.
        cls.server = harness.EditServer(
            OPTIONS.quillmere, ['main.mp4', '-o', 'slow.mp4', '--codec', 'libx264',
                                '--preset', 'veryslow'], cls.folder)
        cls.open_browser(1200, 900)
        driver = cls.browser.driver
        cls.browser.open(cls.server)
        cls.first = driver.current_window_handle
        # A window rather than a tab: a tab in the background has its timers slowed.
        driver.switch_to.new_window('window')
        cls.browser.open(cls.server)
        cls.second = driver.current_window_handle

    def in_window(self, handle):
        self.browser.driver.switch_to.window(handle)
        return self.browser

    def text_of(self, element_id):
        return self.browser.element(element_id).text

    def wait_for_text(self, element_id, pattern, what):
        return harness.wait_until(
            lambda: re.search(pattern, self.text_of(element_id)),
            lambda: f'{what}; {element_id} says {self.text_of(element_id)!r}')

    def test_a_change_in_one_page_shows_in_the_other(self):
        first = self.in_window(self.first)
        field = first.element('mask-text')
        field.send_keys(Keys.CONTROL, 'a')
        field.send_keys('100 80 w200 h120', Keys.ENTER)
        session = harness.wait_until(
            lambda: (lambda s: s if s['maskText'] == '100 80 300 200' else None)(
                self.server.session()), 'the mask set in the first page')

        second = self.in_window(self.second)
        harness.wait_until(lambda: second.element('mask-text').get_attribute('value') ==
                           '100 80 300 200', 'the mask in the second page')
        self.assertRegex(self.text_of('status'), r'^Changed in another page: .*\bmask\b')
        self.assertEqual(second.readouts()['left'], '100')
        second.wait_for_picture_of(session['revision'])

        # And back: a setting changed in the second shows in the first.
        second.setting('border.on').click()
        harness.wait_until(lambda: self.server.session()['settings']['border']['on'],
                           'the border set in the second page')
        first = self.in_window(self.first)
        harness.wait_until(first.setting('border.on').is_selected,
                           'the border in the first page')
        self.assertIn('border', self.text_of('status'))
        self.assertIn('the later change wins', self.text_of('sync-note'))

    def test_either_page_sees_and_cancels_the_render_the_other_started(self):
        first = self.in_window(self.first)
        # An output there already: the page asks, and the user keeps it first.
        output = os.path.join(self.folder, 'slow.mp4')
        with open(output, 'wb') as file:
            file.write(b'kept')
        first.element('render').click()
        question = first.element('replace-question')
        harness.wait_until(question.is_displayed, 'the question')
        first.element('replace-no').click()
        self.wait_for_text('render-info', 'existing output was kept', 'the output kept')

        # Asked again and replaced: while the render runs, the page no
        # longer says the output was kept.
        first.element('render').click()
        harness.wait_until(question.is_displayed, 'the question again')
        first.element('replace-yes').click()
        info = first.element('render-info')
        harness.wait_until(lambda: info.get_attribute('data-state') == 'running',
                           'the render to run')
        self.wait_for_text('render-info', r'^frame \d+', 'the render progress')
        for place in ('render-info', 'status'):
            self.assertNotIn('kept', self.text_of(place))

        second = self.in_window(self.second)
        info = second.element('render-info')
        harness.wait_until(lambda: info.get_attribute('data-state') == 'running',
                           'the render in the second page')
        cancel = second.element('cancel')
        harness.wait_until(cancel.is_enabled, 'Cancel in the second page')
        self.assertFalse(second.element('render').is_enabled())
        cancel.click()
        harness.wait_until(lambda: info.get_attribute('data-state') == 'cancelled',
                           'the render cancelled from the second page')

        first = self.in_window(self.first)
        info = first.element('render-info')
        harness.wait_until(lambda: info.get_attribute('data-state') == 'cancelled',
                           'the cancel in the first page')
        self.assertIn('nothing was written', info.text)
        self.assertTrue(first.element('render').is_enabled())
        with open(output, 'rb') as file:
            self.assertEqual(file.read(), b'kept', 'a cancelled render keeps the old output')


class UnobtainablePictureTest(harness.PageTestCase):
    """A clip whose later frames cannot be decoded: what the page says of a
    picture it could not have goes once another comes, and the frame controls
    show the frame the picture shows."""

    FRAMES = 250

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='quillmere-edit-undecodable-')
        clip = harness.make_clip(os.path.join(cls.folder, 'broken.mp4'), '320x180', cls.FRAMES,
                                 key_every=50)
        # Zeros over most of the last third of the file: its frames there fail to decode.
        with open(clip, 'r+b') as file:
            size = os.path.getsize(clip)
            file.seek(int(size * 0.7))
            file.write(bytes(int(size * 0.25)))
        cls.server = harness.EditServer(OPTIONS.quillmere, ['broken.mp4'], cls.folder)
        cls.open_browser(1200, 900)
        cls.browser.open(cls.server)

    def undecodable_frame(self):
        for frame in range(150, self.FRAMES, 10):
            try:
                self.server.request('GET', f'/api/picture?at={frame}')
            except urllib.error.HTTPError as error:
                if error.code == 500:
                    return frame
        self.fail('every frame of the damaged clip decodes')

    def test_a_picture_that_cannot_be_had_is_said_until_another_comes(self):
        page = self.browser
        status = page.element('status')
        field = page.element('frame-at')

        def shown():
            return page.script("const d = document.getElementById('picture').dataset;"
                               "return d.exact === 'true' ? Number(d.frame) : null;")

        def show(text):
            field.send_keys(Keys.CONTROL, 'a')
            field.send_keys(text, Keys.ENTER)

        for name, frame, reason in [('undecodable', self.undecodable_frame(), 'cannot decode'),
                                    ('past the end', self.FRAMES + 50, 'not frame')]:
            with self.subTest(name):
                show('12')
                harness.wait_until(lambda: shown() == 12, 'frame 12')
                show(str(frame))
                harness.wait_until(lambda: reason in status.text,
                                   lambda: f'the reason; status: {status.text!r}')
                # The picture stays, and the frame controls say which it is.
                self.assertIn('the picture shows frame 12', status.text)
                self.assertEqual(field.get_attribute('value'), '12')
                self.assertEqual(page.element('frame-slider').get_attribute('value'), '12')
                self.assertEqual(shown(), 12)
                # The next picture that comes takes the reason away.
                page.element('frame-forward').click()
                harness.wait_until(lambda: shown() == 13, 'frame 13')
                harness.wait_until(lambda: status.text == '',
                                   lambda: f'the reason to go; status: {status.text!r}')


def main():
    global OPTIONS
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--quillmere', required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.quillmere = os.path.abspath(OPTIONS.quillmere)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == '__main__':
    main()

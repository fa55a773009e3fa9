"""quillmere edit's editing tools in a real browser: the page's rectangle,
snapping and history modules called in the page, and the keys, fields,
snapping, aspect lock, undo and redo and the wheel's zoom driven through
WebDriver with real pointer and key actions.

    edit_tools_test.py --quillmere PROGRAM --artefacts FOLDER

The picture is shown at half its size; expected masks are worked out here
from the picture's displayed box. With --artefacts, it writes a screenshot
of the page mid-drag, snapped, with its guides showing.
"""

import argparse
import math
import os
import sys
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import edit_harness as harness  # noqa: E402

OPTIONS = None

MAIN_SIZE = (1280, 720)
OVERLAY_SIZE = (320, 180)
ZOOM = '0.5'
# Bits of the grips, as the page's rectangle module names them.
LEFT, TOP, RIGHT, BOTTOM = 1, 2, 4, 8


def js_round(value):
    """Math.round: halves go up."""
    return math.floor(value + 0.5)


def picture_point(box, x, y):
    """The pixel edge nearest a viewport point, as the page maps it."""
    return (js_round((x - box['left']) * MAIN_SIZE[0] / box['width']),
            js_round((y - box['top']) * MAIN_SIZE[1] / box['height']))


def viewport_point(box, px, py):
    """A viewport point (whole CSS pixels) over picture point (px, py)."""
    return (round(box['left'] + px * box['width'] / MAIN_SIZE[0]),
            round(box['top'] + py * box['height'] / MAIN_SIZE[1]))


def rect(left, top, right, bottom):
    return {'left': left, 'top': top, 'right': right, 'bottom': bottom}


def corners(mask):
    return (mask['left'], mask['top'], mask['right'], mask['bottom'])


def with_aspect(anchor, point, ratio):
    """A rectangle from `anchor` towards `point` whose height is `ratio` of its
    width, the side the pointer went further along leading."""
    dx, dy = point[0] - anchor[0], point[1] - anchor[1]
    width, height = abs(dx), abs(dy)
    if width * ratio >= height:
        height = js_round(width * ratio)
    else:
        width = js_round(height / ratio)
    x = anchor[0] + (-width if dx < 0 else width)
    y = anchor[1] + (-height if dy < 0 else height)
    return (min(anchor[0], x), min(anchor[1], y), max(anchor[0], x), max(anchor[1], y))


class EditToolsTest(harness.PageTestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='quillmere-edit-tools-')
        harness.make_clip(os.path.join(cls.folder, 'main.mp4'),
                          f'{MAIN_SIZE[0]}x{MAIN_SIZE[1]}', 20, key_every=10)
        harness.make_clip(os.path.join(cls.folder, 'pip.mkv'),
                          f'{OVERLAY_SIZE[0]}x{OVERLAY_SIZE[1]}', 30, pattern='smptebars',
                          codec=('-c:v', 'ffv1'))
        cls.server = harness.EditServer(OPTIONS.quillmere, ['main.mp4', '--overlay', 'pip.mkv'],
                                        cls.folder)
        # 1280 wide: the screenshot's width.
        cls.open_browser(1280, 1000)
        cls.browser.open(cls.server)
        Select(cls.browser.element('zoom')).select_by_value(ZOOM)

    def setUp(self):
        self.box = self.browser.picture_box()
        self.assertAlmostEqual(self.box['width'], MAIN_SIZE[0] * float(ZOOM), delta=0.01)

    # ---- Helpers

    def session(self):
        return self.server.session()

    def wait_for_mask(self, expected, what):
        return harness.wait_until(
            lambda: (lambda s: s if corners(s['mask']) == tuple(expected) else None)(
                self.session()),
            lambda: f'{what}: mask {tuple(expected)}, the runner has '
                    f'{corners(self.session()["mask"])}')

    def set_mask(self, left, top, right, bottom):
        """Sets the mask by the Corners field and waits for its exact picture."""
        field = self.browser.element('mask-text')
        field.send_keys(Keys.CONTROL, 'a')
        field.send_keys(f'{left} {top} {right} {bottom}', Keys.ENTER)
        session = self.wait_for_mask((left, top, right, bottom), 'the typed corners')
        self.browser.wait_for_picture_of(session['revision'])
        return session

    def off_the_fields(self):
        self.browser.driver.find_element(By.CSS_SELECTOR, 'h1').click()

    def drag(self, start, end, held=(), midway=None):
        """Presses at viewport point `start`, moves to `end` in two steps with
        `held` keys down, calls midway() before the release, and releases."""
        middle = ((start[0] + end[0]) // 2, (start[1] + end[1]) // 2)
        self.browser.hold_keys(held, True)
        try:
            self.browser.pointer([('move', *start), ('down',), ('move', *middle),
                                  ('move', *end)])
            try:
                if midway:
                    midway()
            finally:
                self.browser.pointer([('move', *end), ('up',)])
        finally:
            self.browser.hold_keys(held, False)

    def guides(self):
        return sorted(self.browser.script(
            "return [...document.querySelectorAll('.guide:not([hidden])')]"
            ".map((g) => [g.dataset.axis, Number(g.dataset.at)]);"), key=tuple)

    def keys(self, *keys, held=()):
        chain = ActionChains(self.browser.driver)
        for key in held:
            chain.key_down(key)
        chain.send_keys(*keys)
        for key in held:
            chain.key_up(key)
        chain.perform()

    # ---- The page's modules, called in the page

    def test_snapping_module(self):
        frame = {'width': MAIN_SIZE[0], 'height': MAIN_SIZE[1]}
        cases = [
            # name, moved mask, reach, snapped mask, guides
            ('centre onto the centre lines', rect(443, 259, 843, 459), 12,
             rect(440, 260, 840, 460), {'x': [640], 'y': [360]}),
            ('left edge onto the frame edge', rect(7, 100, 207, 200), 12,
             rect(0, 100, 200, 200), {'x': [0], 'y': []}),
            ('onto the action-safe margins', rect(1000, 40, 1210, 140), 12,
             rect(1006, 36, 1216, 136), {'x': [1216], 'y': [36]}),
            ('out of reach', rect(200, 200, 300, 300), 12, rect(200, 200, 300, 300),
             {'x': [], 'y': []}),
            ('snapping off', rect(443, 259, 843, 459), -1, rect(443, 259, 843, 459),
             {'x': [], 'y': []}),
            ('a centre between pixels stays half a pixel off', rect(540, 300, 741, 340), 12,
             rect(540, 300, 741, 340), {'x': [640], 'y': []}),
        ]
        for name, mask, reach, snapped, guides in cases:
            with self.subTest(name):
                answer = self.browser.module_call('snapping.js', 'snapMoved', mask, frame, reach)
                self.assertEqual(answer['mask'], snapped)
                self.assertEqual(answer['guides'], guides)

    def test_rectangle_module(self):
        start = rect(400, 200, 800, 400)
        square = {'sampleAspect': [1, 1]}
        cases = [
            # name, function, arguments, answer
            ('right edge with the aspect: the middle row stays', 'resizedWithAspect',
             [start, RIGHT, 1000, 0, 0.5], rect(400, 150, 1000, 450)),
            ('bottom edge with the aspect: the middle column stays', 'resizedWithAspect',
             [start, BOTTOM, 0, 500, 0.5], rect(300, 200, 900, 500)),
            ('left edge past the right one', 'resizedWithAspect',
             [start, LEFT, 900, 0, 0.5], rect(800, 275, 900, 325)),
            ('top-left corner, the height leading', 'resizedWithAspect',
             [start, LEFT | TOP, 700, 100, 0.5], rect(200, 100, 800, 400)),
            ('a corner from an anchor, the width leading', 'cornerWithAspect',
             [{'x': 100, 'y': 100}, {'x': 420, 'y': 160}, 0.5625], rect(100, 100, 420, 280)),
            ('scroll right to show a box', 'scrollToShow',
             [{'left': 0, 'top': 0}, 400, 300, rect(500, 50, 600, 100), 24],
             {'left': 224, 'top': 0}),
            ('scroll back left', 'scrollToShow',
             [{'left': 300, 'top': 0}, 400, 300, rect(100, 50, 200, 100), 24],
             {'left': 76, 'top': 0}),
            ('a box wider than the view shows its left part', 'scrollToShow',
             [{'left': 0, 'top': 0}, 400, 300, rect(100, 50, 900, 100), 24],
             {'left': 76, 'top': 0}),
            ('native size, 4:3 pixels on square ones', 'nativeSize',
             [{'width': 320, 'height': 180, 'sampleAspect': [4, 3]}, square],
             {'width': js_round(320 * 4 / 3), 'height': 180}),
            ('resized about the centre, an odd change', 'resizedAboutCentre',
             [rect(100, 100, 501, 301), 320, 180],
             rect(100 + (501 - 100 - 320) // 2, 100 + (301 - 100 - 180) // 2,
                  100 + (501 - 100 - 320) // 2 + 320, 100 + (301 - 100 - 180) // 2 + 180)),
            ('X, Y, W, H of unordered corners', 'boxOf', [rect(500, 330, 100, 80)],
             {'x': 100, 'y': 80, 'width': 400, 'height': 250}),
        ]
        for name, function, arguments, answer in cases:
            with self.subTest(name):
                self.assertEqual(
                    self.browser.module_call('mask_geometry.js', function, *arguments), answer)

    def test_history_module(self):
        a, b, c, d, e = ({'opacity': value} for value in (10, 20, 30, 40, 50))
        # Each operation, and what it answers.
        script = [
            (['record', a, b], True),
            (['record', b, b], False),                  # no change: no step
            (['record', b, c, 'held'], True),
            (['record', c, d, 'held'], True),           # joins the step before
            (['undo'], {'from': d, 'to': b}),
            (['redo'], {'from': b, 'to': d}),
            (['redo'], None),
            (['undo'], {'from': d, 'to': b}),
            (['record', b, e], True),                   # drops what was undone
            (['canRedo'], False),
            (['undo'], {'from': e, 'to': b}),
            (['undo'], {'from': b, 'to': a}),
            (['undo'], None),
        ]
        limited = [(['record', a, b], True), (['record', b, c], True), (['record', c, d], True),
                   (['undo'], {'from': d, 'to': c}), (['undo'], {'from': c, 'to': b}),
                   (['undo'], None)]
        for name, limit, operations in [('undo and redo', 200, script),
                                        ('the oldest step goes', 2, limited)]:
            with self.subTest(name):
                answers = self.browser.driver.execute_async_script("""
                    const [limit, operations, done] = arguments;
                    import('/edit_history.js').then((m) => {
                      const history = new m.EditHistory(limit);
                      done(operations.map(([name, ...args]) => history[name](...args)));
                    }, (error) => done(String(error)));
                    """, limit, [operation for operation, _ in operations])
                self.assertEqual(answers, [answer for _, answer in operations])

        border = {'on': True, 'size': 4, 'color': '#ffffff'}
        mask = rect(10, 20, 330, 200)
        restoring = [
            # name, current, from, to, changes
            ('what the change altered', {'border': border, 'opacity': 60},
             {'border': border, 'opacity': 60}, {'border': border, 'opacity': 100},
             {'opacity': 100}),
            ('a setting changed since, elsewhere, stays',
             {'border': {**border, 'size': 9}, 'opacity': 60},
             {'border': border, 'opacity': 60}, {'border': border, 'opacity': 100},
             {'opacity': 100}),
            ('nothing when the settings are so already', {'opacity': 100},
             {'opacity': 60}, {'opacity': 100}, {}),
            ('a placement back for a mask set by hand', {'mask': mask, 'fit': True},
             {'mask': mask, 'fit': True}, {'placement': {'position': 'top-left'}, 'fit': True},
             {'placement': {'position': 'top-left'}}),
            ('a placement field left out goes back to its default',
             {'placement': {'position': 'top-left', 'margin': '2%'}},
             {'placement': {'position': 'top-left', 'margin': '2%'}},
             {'placement': {'position': 'top-left'}},
             {'placement': {'position': 'top-left', 'margin': None}}),
            ('what the command line chose is never sent', {'overlay': 'b', 'keepRotation': True},
             {'overlay': 'b', 'keepRotation': True}, {'overlay': 'a', 'keepRotation': False},
             {}),
        ]
        for name, current, from_, to, changes in restoring:
            with self.subTest(name):
                self.assertEqual(self.browser.module_call('edit_history.js', 'restoringChanges',
                                                          current, from_, to), changes)

    # ---- The page

    def test_arrow_keys_nudge_the_mask_once_the_picture_is_pressed(self):
        expected = [400, 300, 600, 400]
        self.set_mask(*expected)
        frame = self.browser.script("return document.getElementById('picture').dataset.frame")
        # A press that moves nothing gives the picture the keys.
        self.browser.pointer([('move', *viewport_point(self.box, 500, 350)), ('down',), ('up',)])
        cases = [
            ('right', [Keys.ARROW_RIGHT], (), 1, 0),
            ('Shift+down', [Keys.ARROW_DOWN], (Keys.SHIFT,), 0, 10),
            ('left three times', [Keys.ARROW_LEFT] * 3, (), -3, 0),
            ('Shift+up', [Keys.ARROW_UP], (Keys.SHIFT,), 0, -10),
        ]
        for name, keys, held, dx, dy in cases:
            with self.subTest(name):
                self.keys(*keys, held=held)
                expected = [expected[0] + dx, expected[1] + dy, expected[2] + dx,
                            expected[3] + dy]
                self.wait_for_mask(expected, name)
                harness.wait_until(
                    lambda: self.browser.element('mask-x').get_attribute('value') ==
                    str(expected[0]) and self.browser.element('mask-y').get_attribute('value')
                    == str(expected[1]), f'X and Y after {name}')
        self.assertEqual(
            self.browser.script("return document.getElementById('picture').dataset.frame"),
            frame, 'the arrows nudged the mask and stepped no frame')

    def test_shift_keeps_the_aspect_on_any_drag(self):
        start = (400, 200, 800, 400)
        ratio = (start[3] - start[1]) / (start[2] - start[0])
        overlay_ratio = OVERLAY_SIZE[1] / OVERLAY_SIZE[0]

        def right_edge(x, _):
            height = js_round((x - start[0]) * ratio)
            top = start[1] + (start[3] - start[1] - height) // 2
            return (start[0], top, x, top + height)

        def bottom_edge(_, y):
            width = js_round((y - start[1]) / ratio)
            left = start[0] + (start[2] - start[0] - width) // 2
            return (left, start[1], left + width, y)

        # The grabbed point and the drop, in picture pixels, clear of the snapping lines.
        cases = [
            ('right edge', (800, 300), (1000, 300), right_edge),
            ('bottom edge', (600, 400), (600, 500), bottom_edge),
            ('top-left corner', (400, 200), (300, 120),
             lambda x, y: with_aspect((start[2], start[3]), (x, y), ratio)),
            ('drawn: the overlay aspect', (150, 500), (470, 560), None),
        ]
        for name, grab, drop, expected_of in cases:
            with self.subTest(name):
                before = self.set_mask(*start)['revision']
                press = viewport_point(self.box, *grab)
                release = viewport_point(self.box, *drop)
                x, y = picture_point(self.box, *release)
                if expected_of:
                    expected = expected_of(x, y)
                else:
                    expected = with_aspect(picture_point(self.box, *press), (x, y),
                                           overlay_ratio)
                self.drag(press, release, held=(Keys.SHIFT,))
                session = self.wait_for_mask(expected, name)
                self.assertGreater(session['revision'], before)

    def test_a_moved_mask_snaps_to_the_centre_lines_unless_alt_is_held(self):
        source = (100, 100, 500, 300)
        grab = viewport_point(self.box, 300, 200)
        drop = (grab[0] + 172, grab[1] + 81)
        dx = picture_point(self.box, *drop)[0] - picture_point(self.box, *grab)[0]
        dy = picture_point(self.box, *drop)[1] - picture_point(self.box, *grab)[1]
        # The middle lands a few pixels off the frame's middle.
        self.assertLess(abs(300 + dx - MAIN_SIZE[0] / 2), 6)
        self.assertLess(abs(200 + dy - MAIN_SIZE[1] / 2), 6)
        centred = (440, 260, 840, 460)
        cases = [
            ('snapped', (), centred, [['x', 640], ['y', 360]]),
            ('Alt: where the pointer put it', (Keys.ALT,),
             (source[0] + dx, source[1] + dy, source[2] + dx, source[3] + dy), []),
        ]
        for name, held, expected, guides in cases:
            with self.subTest(name):
                self.set_mask(*source)

                def midway():
                    harness.wait_until(lambda: self.guides() == guides,
                                       lambda: f'the guides {guides}; shown {self.guides()}')
                    self.assert_live_overlay(source, expected)
                    if OPTIONS.artefacts and not held:
                        os.makedirs(OPTIONS.artefacts, exist_ok=True)
                        self.browser.driver.save_screenshot(
                            os.path.join(OPTIONS.artefacts, 'edit-page-snapping.png'))
                self.drag(grab, drop, held, midway)
                self.wait_for_mask(expected, name)
                harness.wait_until(lambda: self.guides() == [], 'the guides gone')

    def test_guides_show_while_snapping_at_the_fitted_zoom(self):
        """With a border and a shadow, the picture fitted to the window, a mask
        dragged into the action-safe corner: the README's picture of the page
        mid-drag, when --artefacts is given."""
        zoom = Select(self.browser.element('zoom'))
        zoom.select_by_value('fit')
        try:
            box = self.browser.picture_box()
            for name in ('border.on', 'shadow.on'):
                if not self.browser.setting(name).is_selected():
                    self.browser.setting(name).click()
            field = self.browser.setting('border.size')
            harness.wait_until(field.is_enabled, 'the border size to open')
            field.send_keys(Keys.CONTROL, 'a')
            field.send_keys('6', Keys.ENTER)
            harness.wait_until(lambda: (lambda s: s['border']['size'] == 6 and s['shadow']['on'])(
                self.session()['settings']), 'the border and the shadow')
            self.set_mask(150, 120, 550, 344)
            # The middle (350, 232) dragged to a few pixels off where the mask's
            # corner meets the margins at (1216, 684).
            grab = viewport_point(box, 350, 232)
            drop = viewport_point(box, 1019, 574)
            moved = [picture_point(box, *drop)[axis] - picture_point(box, *grab)[axis]
                     for axis in range(2)]
            self.assertLess(abs(moved[0] - (1216 - 550)), 6)
            self.assertLess(abs(moved[1] - (684 - 344)), 6)

            def midway():
                harness.wait_until(lambda: self.guides() == [['x', 1216], ['y', 684]],
                                   lambda: f'the guides; shown {self.guides()}')
                if OPTIONS.artefacts:
                    os.makedirs(OPTIONS.artefacts, exist_ok=True)
                    self.browser.driver.save_screenshot(
                        os.path.join(OPTIONS.artefacts, 'edit-page-editing.png'))
            self.drag(grab, drop, midway=midway)
            self.wait_for_mask((816, 460, 1216, 684), 'the mask in the corner')
        finally:
            zoom.select_by_value(ZOOM)

    def assert_live_overlay(self, source, target):
        """While dragging, the page draws the overlay it showed at `source`
        moved to `target`, pixel for pixel (the same size)."""
        inside = 20

        def drawn():
            return self.browser.script("""
                const [sx, sy, tx, ty] = arguments;
                const live = document.querySelector('canvas.live');
                if (live.hidden) { return null; }
                const picture = document.getElementById('picture');
                const at = (canvas, x, y) =>
                  [...canvas.getContext('2d').getImageData(x, y, 1, 1).data];
                return [at(picture, sx, sy), at(live, tx, ty)];
                """, source[0] + inside, source[1] + inside, target[0] + inside,
                target[1] + inside)
        pixels = harness.wait_until(lambda: (lambda p: p if p and p[0] == p[1] else None)(
            drawn()), lambda: f'the overlay drawn while dragging: {drawn()}')
        self.assertEqual(pixels[1][3], 255)

    def test_undo_and_redo_go_back_and_forth_over_every_change(self):
        self.set_mask(200, 150, 600, 375)

        def move():
            grab = viewport_point(self.box, 400, 260)
            self.drag(grab, (grab[0] + 37, grab[1] + 23), held=(Keys.ALT,))

        def opacity():
            field = self.browser.setting('opacity')
            field.send_keys(Keys.CONTROL, 'a')
            field.send_keys('60', Keys.ENTER)

        def x_field():
            field = self.browser.element('mask-x')
            field.send_keys(Keys.CONTROL, 'a')
            field.send_keys('150', Keys.ENTER)

        steps = [
            ('border on', lambda: self.browser.setting('border.on').click()),
            ('move', move),
            ('opacity', opacity),
            ('X field', x_field),
            ('native size', lambda: self.browser.element('native-size').click()),
        ]
        states = [self.session()]
        for name, action in steps:
            action()
            states.append(harness.wait_until(
                lambda: (lambda s: s if s['revision'] > states[-1]['revision'] else None)(
                    self.session()), name))
        self.off_the_fields()

        def wait_for(state, what):
            harness.wait_until(lambda: self.session()['settings'] == state['settings'],
                               lambda: f'{what}: {state["settings"]}; the runner has '
                                       f'{self.session()["settings"]}')
        for index in range(len(steps), 0, -1):
            with self.subTest('undo', step=steps[index - 1][0]):
                self.keys('z', held=(Keys.CONTROL,))
                wait_for(states[index - 1], 'undone')
        for index in range(1, len(steps) + 1):
            with self.subTest('redo', step=steps[index - 1][0]):
                if index % 2:
                    self.keys('z', held=(Keys.CONTROL, Keys.SHIFT))
                else:
                    self.keys('y', held=(Keys.CONTROL,))
                wait_for(states[index], 'redone')
        self.assertTrue(self.browser.element('redo').get_attribute('disabled'))
        # The buttons undo as the keys do.
        self.browser.element('undo').click()
        wait_for(states[-2], 'undone by the button')
        self.browser.element('redo').click()
        wait_for(states[-1], 'redone by the button')

    def test_x_y_w_h_fields_set_the_drawn_rectangle_and_refuse_bad_text(self):
        self.set_mask(100, 80, 500, 330)
        fields = {'X': 'mask-x', 'Y': 'mask-y', 'W': 'mask-w', 'H': 'mask-h'}
        harness.wait_until(lambda: [self.browser.element(f).get_attribute('value')
                                    for f in fields.values()] == ['100', '80', '400', '250'],
                           'the fields of the typed corners')
        error = self.browser.element('mask-box-error')
        cases = [
            # field, text, the mask it gives (None: refused)
            ('X', '120', (120, 80, 520, 330)),
            ('W', '640', (120, 80, 760, 330)),
            ('H', '100', (120, 80, 760, 180)),
            ('Y', '-20', (120, -20, 760, 80)),
            ('W', 'abc', None),
            ('W', '0', None),
            ('X', '1.5', None),
            ('H', '', None),
        ]
        for label, text, expected in cases:
            with self.subTest(label=label, text=text):
                field = self.browser.element(fields[label])
                before = self.session()
                field.send_keys(Keys.CONTROL, 'a')
                field.send_keys(text or Keys.DELETE, Keys.ENTER)
                if expected:
                    self.wait_for_mask(expected, f'{label} {text}')
                    box = [str(expected[0]), str(expected[1]), str(expected[2] - expected[0]),
                           str(expected[3] - expected[1])]
                    harness.wait_until(lambda: [self.browser.element(f).get_attribute('value')
                                                for f in fields.values()] == box,
                                       f'the page showing X, Y, W, H {box}')
                    self.assertEqual(error.text, '')
                    continue
                harness.wait_until(lambda: 'expected' in error.text, f'the reason for {text!r}')
                self.assertIn(label, error.text)
                self.assertEqual(field.get_attribute('aria-invalid'), 'true')
                self.assertEqual(field.get_attribute('value'), text)
                self.assertEqual(self.session()['revision'], before['revision'])

        # Native size: the overlay's own pixels, about the mask's middle.
        self.browser.element('native-size').click()
        left = 120 + (760 - 120 - OVERLAY_SIZE[0]) // 2
        top = -20 + (80 + 20 - OVERLAY_SIZE[1]) // 2
        self.wait_for_mask((left, top, left + OVERLAY_SIZE[0], top + OVERLAY_SIZE[1]),
                           'native size')

    def test_the_wheel_zooms_about_the_pointer_and_the_view_follows_the_mask(self):
        zoom = Select(self.browser.element('zoom'))
        scroller = 'document.getElementById("stage-scroll")'
        try:
            # Near the top left: the view can scroll to keep it under the pointer.
            at = viewport_point(self.box, 280, 160)
            before = ((at[0] - self.box['left']) * MAIN_SIZE[0] / self.box['width'],
                      (at[1] - self.box['top']) * MAIN_SIZE[1] / self.box['height'])
            self.browser.wheel(*at, -400)  # twice the size
            harness.wait_until(lambda: zoom.first_selected_option.text == '100%',
                               lambda: 'the zoom at 100%: ' + zoom.first_selected_option.text)
            box = self.browser.picture_box()
            self.assertAlmostEqual(box['width'], MAIN_SIZE[0], delta=0.01)
            after = ((at[0] - box['left']) * MAIN_SIZE[0] / box['width'],
                     (at[1] - box['top']) * MAIN_SIZE[1] / box['height'])
            for axis in range(2):
                self.assertAlmostEqual(after[axis], before[axis], delta=1,
                                       msg='the point under the pointer stays')

            # The middle button drags the view.
            scroll = f'return [{scroller}.scrollLeft, {scroller}.scrollTop];'
            before_pan = self.browser.script(scroll)
            self.browser.pointer([('move', *at), ('down', 1), ('move', at[0] + 30, at[1] + 20),
                                  ('up', 1)])
            self.assertEqual(self.browser.script(scroll),
                             [before_pan[0] - 30, before_pan[1] - 20])

            # A drag at this zoom maps as exactly.
            box = self.browser.picture_box()
            end = (at[0] + 53, at[1] + 31)
            start_point, end_point = picture_point(box, *at), picture_point(box, *end)
            self.drag(at, end, held=(Keys.ALT,))
            self.wait_for_mask(start_point + end_point, 'drawn at 100%')

            # A mask set off the view is scrolled into it.
            for name, value in [('mask-x', '1150'), ('mask-y', '620')]:
                field = self.browser.element(name)
                field.send_keys(Keys.CONTROL, 'a')
                field.send_keys(value, Keys.ENTER)
            self.wait_for_mask((1150, 620, 1150 + end_point[0] - start_point[0],
                                620 + end_point[1] - start_point[1]), 'the typed X and Y')

            def in_view():
                return self.browser.script(f"""
                    const view = {scroller}.getBoundingClientRect();
                    const mask = document.getElementById('outline').getBoundingClientRect();
                    return mask.left >= view.left && mask.right <= view.right &&
                      mask.top >= view.top && mask.bottom <= view.bottom;""")
            harness.wait_until(in_view, 'the mask scrolled into view')
        finally:
            zoom.select_by_value(ZOOM)
            self.browser.script(f'{scroller}.scrollTo(0, 0)')

    def test_after_a_drag_the_picture_is_what_quillmere_frame_makes(self):
        self.set_mask(300, 200, 620, 380)
        if not self.browser.setting('border.on').is_selected():
            self.browser.setting('border.on').click()
        harness.wait_until(lambda: self.session()['settings']['border']['on'], 'the border')
        grab = viewport_point(self.box, 460, 290)
        self.drag(grab, (grab[0] - 61, grab[1] + 47), held=(Keys.ALT,))
        session = harness.wait_until(
            lambda: (lambda s: s if corners(s['mask']) != (300, 200, 620, 380) else None)(
                self.session()), 'the moved mask')
        self.browser.wait_for_picture_of(session['revision'])
        harness.wait_until(lambda: self.browser.script(
            "return document.querySelector('canvas.live').hidden"),
            'the page to show the exact picture only')
        shown = harness.decoded_rgb(self.browser.fetch_shown_picture())
        frame = int(self.browser.script(
            "return document.getElementById('picture').dataset.frame"))
        self.assertEqual(shown, harness.frame_of_command_line(
            OPTIONS.quillmere, session['commandLine'], frame, self.folder),
            'the page shows what quillmere frame makes')
        self.assertEqual(self.browser.canvas_rgb(), shown)


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

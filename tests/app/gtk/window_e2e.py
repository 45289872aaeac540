#!/usr/bin/env python3
"""MainWindow driven in an X server, read through the accessibility bus and the X window tree.

Run inside xvfb-run (a 1024x768 screen) and dbus-run-session; with --window-manager xfwm4 the
script starts that window manager first, so that the window gets a frame and the window
manager's view of the missing maximise box can be read.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

PROGRAM = ""
WINDOW_MANAGER = "none"
OUTPUT_DIR = ""

SCREEN = (1024, 768)
OUTER = (401, 299, 222, 169)

START = "启动"
STOP = "停止"

# Client-area rectangles and texts of the description.
CONTROLS = {
    "标签1": ((24, 8, 144, 24), "自动校准时间 单位(毫秒)"),
    "编辑框1": ((24, 33, 72, 21), "800"),
    "按钮1": ((104, 30, 56, 26), START),
    "标签2": ((24, 72, 168, 24), "1秒=1000毫秒"),
    "标签3": ((32, 104, 144, 24), "本机时钟与网络时间同步"),
}
LABEL_NAMES = ["标签1", "标签2", "标签3"]

# Seconds to wait before concluding that something did not happen.
SETTLE = 1.0


def wait_for(what, predicate, timeout=10.0):
    """Polls predicate until it gives a true value; fails the test with `what` after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def xdotool(*arguments):
    run("xdotool", *arguments)


def x_parent(window):
    tree = run("xwininfo", "-id", str(window), "-tree")
    root = int(re.search(r"Root window id: (0x[0-9a-f]+)", tree).group(1), 16)
    parent = int(re.search(r"Parent window id: (0x[0-9a-f]+)", tree).group(1), 16)
    return parent, root


def x_geometry(window):
    info = run("xwininfo", "-id", str(window))
    field = lambda name: int(re.search(name + r":\s+(-?\d+)", info).group(1))  # noqa: E731
    return (field("Absolute upper-left X"), field("Absolute upper-left Y"),
            field("Width"), field("Height"))


def x_outer_rectangle(window):
    """The rectangle of the topmost ancestor below the root: the frame, or the window itself."""
    while True:
        parent, root = x_parent(window)
        if parent == root:
            return x_geometry(window)
        window = parent


def x_property(window, *arguments):
    return run("xprop", "-id", str(window), *arguments)


class Program:
    """One run of the window-test program: its process, its X window and its accessible frame."""

    def __init__(self, interval_file):
        environment = dict(os.environ, TOCKMERE_TEST_INTERVAL_FILE=interval_file)
        self.process = subprocess.Popen([PROGRAM], env=environment)
        self.frame = wait_for("the accessible frame of pid %d" % self.process.pid,
                              self._find_frame, timeout=20)
        self.window = wait_for("the X window", self._find_x_window)
        # Settled: mapped, fitted to its outer size and focused in 编辑框1.
        wait_for("the outer rectangle", lambda: x_outer_rectangle(self.window)[2:] == OUTER[2:])
        wait_for("the focus in 编辑框1", lambda: self.focused() == "编辑框1")

    def _find_frame(self):
        desktop = Atspi.get_desktop(0)
        desktop.clear_cache()
        for i in range(desktop.get_child_count()):
            application = desktop.get_child_at_index(i)
            if application is None:
                continue
            try:
                if application.get_process_id() != self.process.pid:
                    continue
            except gi.repository.GLib.Error:
                continue
            for j in range(application.get_child_count()):
                frame = application.get_child_at_index(j)
                if frame.get_role() == Atspi.Role.FRAME and frame.get_name() == "Tockmere":
                    return frame
        return None

    def _find_x_window(self):
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid",
                                 str(self.process.pid), "--name", "^Tockmere$"],
                                capture_output=True, text=True)
        ids = result.stdout.split()
        return int(ids[0]) if ids else None

    def controls(self):
        """The five controls by their names in the description."""
        self.frame.clear_cache()
        found = {}
        labels = []
        stack = [self.frame]
        while stack:
            node = stack.pop(0)
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                role = child.get_role()
                if role == Atspi.Role.LABEL:
                    labels.append(child)
                elif role in (Atspi.Role.TEXT, Atspi.Role.ENTRY):
                    found["编辑框1"] = child
                elif role == Atspi.Role.PUSH_BUTTON:
                    found["按钮1"] = child
                stack.append(child)
        for child in labels:
            for name in LABEL_NAMES:
                if child.get_name() == CONTROLS[name][1]:
                    found[name] = child
        return found

    def control(self, name):
        return self.controls()[name]

    def client_origin(self):
        return x_geometry(self.window)[:2]

    def client_rectangle(self, name):
        extents = self.control(name).get_extents(Atspi.CoordType.SCREEN)
        left, top = self.client_origin()
        return (extents.x - left, extents.y - top, extents.width, extents.height)

    def text(self, name):
        control = self.control(name)
        if name == "编辑框1":
            return Atspi.Text.get_text(control, 0, -1)
        return control.get_name()

    def focused(self):
        for name, control in self.controls().items():
            if control.get_state_set().contains(Atspi.StateType.FOCUSED):
                return name
        return None

    def click(self, name):
        left, top, width, height = self.client_rectangle(name)
        x, y = self.client_origin()
        xdotool("mousemove", "--sync", str(x + left + width // 2), str(y + top + height // 2))
        xdotool("click", "1")

    def keys(self, *keys):
        for key in keys:
            xdotool("key", key)
            time.sleep(0.15)

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=10.0):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.running():
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class MainWindowTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.interval_file = os.path.join(self.scratch.name, "interval")
        self.program = Program(self.interval_file)

    def tearDown(self):
        self.program.stop()
        self.scratch.cleanup()

    def recorded_intervals(self):
        if not os.path.exists(self.interval_file):
            return []
        with open(self.interval_file, "rb") as record:
            return record.read().split(b"\n")[:-1]

    def assert_controls_in_place(self):
        controls = self.program.controls()
        self.assertEqual(sorted(controls), sorted(CONTROLS))
        for name, (rectangle, text) in CONTROLS.items():
            with self.subTest(control=name):
                self.assertEqual(self.program.client_rectangle(name), rectangle)
                self.assertEqual(self.program.text(name), text)

    def test_outer_rectangle_is_222_by_169_centred_on_the_screen(self):
        self.assertEqual(x_outer_rectangle(self.program.window), OUTER)
        if WINDOW_MANAGER != "none":
            # The frame is real, so the content is smaller than the outer rectangle.
            client = x_geometry(self.program.window)
            self.assertLess(client[2] * client[3], OUTER[2] * OUTER[3])
        os.makedirs(OUTPUT_DIR, exist_ok=True)
        screenshot = os.path.join(OUTPUT_DIR, "main_window.png")
        run("import", "-window", "root", screenshot)
        self.assertGreater(os.path.getsize(screenshot), 0)

    def test_controls_at_their_places_with_their_texts(self):
        self.assert_controls_in_place()
        labels = self.program.controls()
        for name in LABEL_NAMES:
            with self.subTest(label=name):
                self.assertFalse(labels[name].get_state_set().contains(
                    Atspi.StateType.FOCUSABLE))

    def test_resized_window_keeps_the_controls_in_place(self):
        xdotool("windowsize", "--sync", str(self.program.window), "320", "240")
        wait_for("the new size", lambda: x_geometry(self.program.window)[2:] == (320, 240))
        self.assert_controls_in_place()

    def test_focus_starts_in_edit1_with_the_caret_before_800(self):
        edit1 = self.program.control("编辑框1")
        self.assertEqual(self.program.focused(), "编辑框1")
        self.assertEqual(Atspi.Text.get_caret_offset(edit1), 0)
        self.assertEqual(Atspi.Text.get_n_selections(edit1), 0)
        self.program.keys("a", "b", "Z")
        wait_for("the typed letters", lambda: self.program.text("编辑框1") == "abZ800")

    def test_keys(self):
        # (reason, keys, focus afterwards or None once closed, caption, exit code or None)
        rows = [
            ("Tab moves the focus to 按钮1", ["Tab"], "按钮1", START, None),
            ("Tab again comes back to 编辑框1", ["Tab", "Tab"], "编辑框1", START, None),
            ("Shift+Tab from 编辑框1 wraps to 按钮1", ["shift+Tab"], "按钮1", START, None),
            ("Enter in 编辑框1 does not click 按钮1", ["Return"], "编辑框1", START, None),
            ("Space on 按钮1 clicks it", ["Tab", "space"], "按钮1", STOP, None),
            ("Shift+Esc does not close", ["shift+Escape"], "编辑框1", START, None),
            ("Ctrl+Esc does not close", ["ctrl+Escape"], "编辑框1", START, None),
            ("Esc in 编辑框1 closes with exit code 0", ["Escape"], None, None, 0),
            ("Esc on 按钮1 closes with exit code 0", ["Tab", "Escape"], None, None, 0),
        ]
        if WINDOW_MANAGER != "none":
            rows.append(("Alt+F4 of the window manager closes with exit code 0", ["alt+F4"],
                         None, None, 0))
        first = True
        for reason, keys, focus, caption, exit_code in rows:
            with self.subTest(reason):
                if not first:
                    self.program.stop()
                    self.program = Program(self.interval_file)
                first = False
                self.program.keys(*keys)
                if exit_code is not None:
                    self.assertEqual(self.program.wait_exit(), exit_code)
                    continue
                # A button activated by the keyboard clicks only a moment later, and a close
                # goes through the loop: give both the time to show before looking.
                time.sleep(SETTLE)
                wait_for("focus on " + focus, lambda: self.program.focused() == focus)
                self.assertEqual(self.program.text("按钮1"), caption)
                self.assertTrue(self.program.running())

    def test_click_toggles_the_caption_and_each_start_reads_edit1(self):
        self.program.click("按钮1")
        wait_for("the stop caption", lambda: self.program.text("按钮1") == STOP)
        wait_for("the first read", lambda: self.recorded_intervals() == [b"800"])
        self.program.click("按钮1")
        wait_for("the start caption", lambda: self.program.text("按钮1") == START)
        # A character that code page 936 holds comes back as its two bytes, one it cannot hold
        # as "?".
        Atspi.EditableText.set_text_contents(self.program.control("编辑框1"), "8中00😀")
        wait_for("the new text", lambda: self.program.text("编辑框1") == "8中00😀")
        self.program.click("按钮1")
        wait_for("the second read",
                 lambda: self.recorded_intervals() == [b"800", b"8\xd6\xd000?"])
        self.assertEqual(self.program.text("按钮1"), STOP)

    def test_focus_comes_back_to_the_last_control_on_reactivation(self):
        self.program.keys("Tab")
        wait_for("focus on 按钮1", lambda: self.program.focused() == "按钮1")
        other = Program(os.path.join(self.scratch.name, "other"))
        try:
            wait_for("the first window to lose the focus",
                     lambda: self.program.focused() is None)
        finally:
            other.stop()
        if WINDOW_MANAGER == "none":
            xdotool("windowfocus", "--sync", str(self.program.window))
        else:
            xdotool("windowactivate", "--sync", str(self.program.window))
        wait_for("focus back on 按钮1", lambda: self.program.focused() == "按钮1")

    def test_window_carries_the_clock_face_icon(self):
        # "_NET_WM_ICON(CARDINAL) = width, height, ARGB pixel, ..." as numbers.
        numbers = x_property(self.program.window, "32c", "_NET_WM_ICON").split("=", 1)[1]
        values = [int(v) for v in numbers.split(",")]
        width, height, pixels = values[0], values[1], values[2:]
        self.assertEqual((width, height), (48, 48))
        self.assertGreaterEqual(len(pixels), width * height)
        self.assertEqual(pixels[0] >> 24, 0, "a round face leaves the corners transparent")
        colours = {argb & 0xFFFFFF for argb in pixels[: width * height] if argb >> 24 == 0xFF}
        for name, rgb in (("rim", 0x1F4E79), ("face", 0xF7FAFD)):
            with self.subTest(colour=name):
                self.assertIn(rgb, colours)

    def test_window_manager_offers_no_maximise_and_does_not_keep_it_above(self):
        if WINDOW_MANAGER == "none":
            self.skipTest("no window manager to ask")
        actions = x_property(self.program.window, "_NET_WM_ALLOWED_ACTIONS")
        for action in ("MINIMIZE", "RESIZE", "MOVE", "CLOSE"):
            with self.subTest(offered=action):
                self.assertIn("_NET_WM_ACTION_" + action, actions)
        for action in ("MAXIMIZE_HORZ", "MAXIMIZE_VERT"):
            with self.subTest(withheld=action):
                self.assertNotIn("_NET_WM_ACTION_" + action, actions)
        self.assertNotIn("_NET_WM_STATE_ABOVE", x_property(self.program.window, "_NET_WM_STATE"))


# Window managers the script can start: xfwm4 honours a window's request for no maximise box.
WINDOW_MANAGER_COMMANDS = {
    "xfwm4": ["xfwm4", "--compositor=off", "--sm-client-disable"],
}


def start_window_manager(name):
    if name == "none":
        return None
    os.makedirs(OUTPUT_DIR, exist_ok=True)
    with open(os.path.join(OUTPUT_DIR, name + ".log"), "wb") as log:
        manager = subprocess.Popen(WINDOW_MANAGER_COMMANDS[name], stdout=log, stderr=log)

    def managing():
        if manager.poll() is not None:
            raise AssertionError("%s ended with %d" % (name, manager.returncode))
        return "window id #" in run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK")

    wait_for(name + " to manage the screen", managing, timeout=30)
    return manager


def main():
    global PROGRAM, WINDOW_MANAGER, OUTPUT_DIR
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--window-manager", default="none")
    parser.add_argument("--output-dir", required=True)
    arguments, rest = parser.parse_known_args()
    PROGRAM = arguments.program
    WINDOW_MANAGER = arguments.window_manager
    OUTPUT_DIR = arguments.output_dir

    geometry = run("xwininfo", "-root")
    screen = (int(re.search(r"Width: (\d+)", geometry).group(1)),
              int(re.search(r"Height: (\d+)", geometry).group(1)))
    if screen != SCREEN:
        sys.exit("the screen is %dx%d, not 1024x768" % screen)

    Atspi.init()
    manager = start_window_manager(WINDOW_MANAGER)
    try:
        result = unittest.main(argv=[sys.argv[0], "-v"] + rest, exit=False).result
    finally:
        if manager is not None:
            manager.terminate()
            manager.wait()
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""The Win32 window driven from outside as a user would: layout, button, keyboard.

Runs the window-test build of the program under Wine and reads and works it through
window_driver.exe (Win32 calls only, never pixels). Meant to run inside the X server that
in_xvfb.sh provides (1024x768, no window manager, Chinese locale).

    window_test.py --wine <wine-run.sh> <prefix> --program <exe> --driver <exe> --out <dir> <scenario>
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

START = "启动"
STOP = "停止"
LABEL1 = "自动校准时间 单位(毫秒)"
LABEL2 = "1秒=1000毫秒"
CREDIT = "本机时钟与网络时间同步"

WS_CHILD, WS_VISIBLE, WS_CLIPSIBLINGS, WS_CLIPCHILDREN = 0x40000000, 0x10000000, 0x04000000, 0x02000000
WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0x00C00000, 0x00080000, 0x00040000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_TABSTOP, WS_BORDER = 0x00020000, 0x00010000, 0x00010000, 0x00800000
WS_EX_WINDOWEDGE, WS_EX_CLIENTEDGE = 0x00000100, 0x00000200
SS_TYPEMASK, SS_OWNERDRAW = 0x1F, 0x0D
BS_TYPEMASK, BS_PUSHBUTTON, BS_CENTER, BS_VCENTER, BS_MULTILINE = 0x0F, 0x0, 0x300, 0xC00, 0x2000
ES_CENTER, ES_RIGHT, ES_MULTILINE, ES_UPPERCASE, ES_LOWERCASE = 0x1, 0x2, 0x4, 0x8, 0x10
ES_PASSWORD, ES_AUTOHSCROLL, ES_NOHIDESEL, ES_READONLY, ES_NUMBER = 0x20, 0x80, 0x100, 0x800, 0x2000

# The window's style as created; the system adds WS_CLIPSIBLINGS to every top-level window.
WINDOW_STYLE = WS_VISIBLE | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX

# The controls in stacking order, topmost first: name, class, text, client rectangle, tab stop.
CONTROLS = [
    ("标签3", "Static", CREDIT, [32, 104, 176, 128], False),
    ("标签2", "Static", LABEL2, [24, 72, 192, 96], False),
    ("按钮1", "Button", START, [104, 30, 160, 56], True),
    ("编辑框1", "Edit", "800", [24, 33, 96, 54], True),
    ("标签1", "Static", LABEL1, [24, 8, 168, 32], False),
]


class Failures:
    def __init__(self):
        self.messages = []

    def check(self, condition, message):
        if not condition:
            self.messages.append(message)
            print(f"  FAIL {message}", flush=True)
        return condition


class Session:
    """One run of the window-test program, with the driver pointed at its window."""

    def __init__(self, args, name):
        self.args = args
        self.record = Path(args.out) / f"{name}.interval"
        self.record.unlink(missing_ok=True)
        env = dict(os.environ)
        # The stand-in control appends each read of the box there (a Windows path on drive Z:).
        env["TOCKMERE_TEST_INTERVAL_FILE"] = "Z:" + str(self.record).replace("/", "\\")
        self.process = subprocess.Popen(args.wine + [args.program], env=env)
        if self.driver("find", "60000").returncode != 0:
            self.process.kill()
            raise RuntimeError("the window did not appear")
        # Up once the focus has reached 编辑框1.
        self.poll(lambda d: focused(d) == "Edit", "the focus reaches the edit box")

    def driver(self, *arguments):
        # Output into files, not pipes: a Wine server or desktop process that the driver happens
        # to start would hold a pipe open long after the driver is gone.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run(self.args.wine + [self.args.driver, *arguments],
                                    stdout=out, stderr=err, timeout=120)
            out.seek(0)
            err.seek(0)
            result.stdout = out.read().decode("utf-8", "replace")
            result.stderr = err.read().decode("utf-8", "replace")
        return result

    def dump(self):
        result = self.driver("dump")
        return json.loads(result.stdout) if result.returncode == 0 else None

    def poll(self, predicate, what, timeout=15.0):
        """The first dump that satisfies the predicate; None once the time is up."""
        end = time.monotonic() + timeout
        while True:
            state = self.dump()
            if state is not None and predicate(state):
                return state
            if time.monotonic() > end:
                print(f"  timed out waiting until {what}; last state: {state}", flush=True)
                return None
            time.sleep(0.2)

    def keys(self, *tokens):
        return self.driver("keys", *tokens).returncode == 0

    def click(self):
        return self.driver("click").returncode == 0

    def recorded(self):
        """What the stand-in control read from 编辑框1 at each start, decoded from 936."""
        if not self.record.exists():
            return []
        return [bytes.fromhex(line).decode("gbk") for line in self.record.read_text().split()]

    def gone(self, timeout=15.0):
        return self.driver("wait-gone", str(int(timeout * 1000))).returncode == 0

    def exit_code(self, timeout=30.0):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None

    def end(self):
        """Closes the window with Esc if it is still there; the program's exit code."""
        if self.process.poll() is None and self.driver("find", "0").returncode == 0:
            self.keys("esc")
        return self.exit_code()


def control(state, class_name):
    return next((c for c in state["controls"] if c["class"].lower() == class_name.lower()), None)


def focused(state):
    return next((c["class"] for c in state["controls"] if c["focus"]), None)


def caption(state):
    button = control(state, "Button")
    return button["text"] if button else None


def edit_text(state):
    edit = control(state, "Edit")
    return edit["text"] if edit else None


def screenshot(out, name):
    """The whole screen, and the window's surroundings enlarged, into the build folder."""
    whole = Path(out) / f"{name}.png"
    subprocess.run(["import", "-window", "root", str(whole)], check=True, timeout=60)
    subprocess.run(["convert", str(whole), "-crop", "262x209+381+279", "+repage", "-scale", "300%",
                    str(Path(out) / f"{name}-enlarged.png")], check=True, timeout=60)
    print(f"  screenshot {whole}", flush=True)


def scenario_layout(args, f):
    s = Session(args, "layout")
    state = s.dump()
    window = state["window"]
    f.check(window["screen"] == [0, 0, 1024, 768], f"the screen is 1024x768: {window['screen']}")
    f.check(window["rect"] == [401, 299, 623, 468],
            f"outer rectangle 222x169 at (401, 299): {window['rect']}")
    f.check(window["caption"] == "Tockmere", f"caption: {window['caption']!r}")
    style = window["style"] & 0xFFFFFFFF
    f.check(style & ~WS_CLIPSIBLINGS == WINDOW_STYLE, f"window style {style:#x}")
    f.check(style & WS_MAXIMIZEBOX == 0, "no maximise box")
    # WS_EX_WINDOWEDGE comes with every sizing border; nothing else may be there.
    f.check(window["exstyle"] & ~WS_EX_WINDOWEDGE == 0, f"no extended style: {window['exstyle']:#x}")
    f.check(not window["owner"], "a window without owner, so it has a taskbar button")
    f.check(window["active"] and window["foreground"], "the window is the active one")

    controls = state["controls"]
    f.check(len(controls) == len(CONTROLS), f"five controls: {len(controls)}")
    for expected, seen in zip(CONTROLS, controls):
        name, class_name, text, rect, tab_stop = expected
        style = seen["style"] & 0xFFFFFFFF
        where = f"{name} (z {seen['z']})"
        f.check(seen["class"].lower() == class_name.lower(), f"{where} class {seen['class']}")
        f.check(seen["text"] == text, f"{where} text {seen['text']!r}")
        f.check(seen["rect"] == rect, f"{where} rectangle {seen['rect']} (want {rect})")
        f.check(bool(style & WS_TABSTOP) == tab_stop, f"{where} tab stop {bool(style & WS_TABSTOP)}")
        f.check(seen["visible"] and seen["enabled"], f"{where} visible and enabled")
        if class_name == "Static":
            f.check(style & SS_TYPEMASK == SS_OWNERDRAW, f"{where} drawn by the program: {style:#x}")
            f.check(style & WS_BORDER == 0 and seen["exstyle"] == 0, f"{where} without border")
        elif class_name == "Button":
            f.check(style & BS_TYPEMASK == BS_PUSHBUTTON, f"{where} a plain push button: {style:#x}")
            want = BS_CENTER | BS_VCENTER | BS_MULTILINE
            f.check(style & want == want, f"{where} centred, multiline: {style:#x}")
        elif class_name == "Edit":
            f.check(style & ES_AUTOHSCROLL, f"{where} scrolls horizontally: {style:#x}")
            unwanted = (ES_CENTER | ES_RIGHT | ES_MULTILINE | ES_UPPERCASE | ES_LOWERCASE |
                        ES_PASSWORD | ES_NOHIDESEL | ES_READONLY | ES_NUMBER)
            f.check(style & unwanted == 0, f"{where} a plain single-line box: {style:#x}")
            f.check(seen["exstyle"] & WS_EX_CLIENTEDGE, f"{where} sunken edge: {seen['exstyle']:#x}")
    edit = control(state, "Edit")
    f.check(focused(state) == "Edit", f"the focus is in the edit box: {focused(state)}")
    f.check(edit is not None and edit["selection"][:2] == [0, 0],
            f"caret before 800, nothing selected: {edit and edit['selection']}")
    screenshot(args.out, "window")
    f.check(s.end() == 0, "Esc ends the program with 0")


def scenario_button(args, f):
    s = Session(args, "button")
    steps = [
        # (what, action, caption afterwards, reads recorded so far)
        ("a click starts", s.click, STOP, ["800"]),
        ("a second click stops", s.click, START, ["800"]),
        ("Space on the focused button starts again", lambda: s.keys("space"), STOP, ["800", "800"]),
        ("Space again stops", lambda: s.keys("space"), START, ["800", "800"]),
        ("a digit typed in the box after Shift+Tab goes in before 800",
         lambda: s.keys("shift+tab", "text:5"), START, ["800", "800"]),
        ("the next start reads the box as it is then", lambda: s.keys("tab", "space"), STOP,
         ["800", "800", "5800"]),
    ]
    for what, action, want_caption, want_reads in steps:
        print(f"- {what}", flush=True)
        f.check(action(), f"{what}: the driver acted")
        state = s.poll(lambda d: caption(d) == want_caption, f"the caption reads {want_caption}")
        f.check(state is not None, f"{what}: caption {want_caption}")
        end = time.monotonic() + 10
        while s.recorded() != want_reads and time.monotonic() < end:
            time.sleep(0.2)
        f.check(s.recorded() == want_reads, f"{what}: reads {s.recorded()} (want {want_reads})")
        if want_caption == STOP and len(want_reads) == 1:
            screenshot(args.out, "window-started")
    f.check(s.end() == 0, "Esc while started ends the program with 0")


# (why, keys, window still open afterwards, focus afterwards, text of the box afterwards)
KEY_CASES = [
    ("Esc in the edit box closes the window", ["esc"], False, None, None),
    ("Esc on the button closes the window", ["tab", "esc"], False, None, None),
    ("Shift+Esc does not close", ["shift+esc"], True, "Edit", "800"),
    ("Enter in the edit box does not click the button", ["enter"], True, "Edit", "800"),
    ("Tab moves the focus to the button", ["tab"], True, "Button", "800"),
    ("a second Tab comes back to the edit box", ["tab", "tab"], True, "Edit", "800"),
    ("Shift+Tab on the button comes back to the edit box", ["tab", "shift+tab"], True, "Edit", "800"),
    ("letters typed at start go in before 800", ["text:ab"], True, "Edit", "ab800"),
]


def scenario_keys(args, f):
    for index, (why, keys, stays_open, want_focus, want_text) in enumerate(KEY_CASES):
        print(f"- {why}", flush=True)
        s = Session(args, f"keys-{index}")
        f.check(s.keys(*keys), f"{why}: keys sent")
        if not stays_open:
            f.check(s.gone(), f"{why}: the window is gone")
            f.check(s.exit_code() == 0, f"{why}: exit code 0")
            continue
        state = s.poll(lambda d: focused(d) == want_focus and edit_text(d) == want_text,
                       f"focus {want_focus}, text {want_text}")
        f.check(state is not None, f"{why}: focus {want_focus} and text {want_text!r}")
        time.sleep(1.0)  # anything the keys might still set off has happened by now
        state = s.dump()
        f.check(state is not None, f"{why}: the window is still open")
        if state is not None:
            f.check(caption(state) == START, f"{why}: nothing clicked, caption {caption(state)}")
        f.check(s.recorded() == [], f"{why}: no start: {s.recorded()}")
        f.check(s.end() == 0, f"{why}: Esc afterwards ends the program with 0")


SCENARIOS = {"layout": scenario_layout, "button": scenario_button, "keys": scenario_keys}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--wine", nargs=2, required=True, metavar=("RUNNER", "PREFIX"))
    parser.add_argument("--program", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()
    Path(args.out).mkdir(parents=True, exist_ok=True)
    failures = Failures()
    SCENARIOS[args.scenario](args, failures)
    for message in failures.messages:
        print(f"FAILED: {message}")
    print(f"{args.scenario}: {'failed' if failures.messages else 'passed'}")
    return 1 if failures.messages else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The whole program end to end in a real X server, against the loopback time service.

Starts the end-to-end build of the program (Windows under Wine, or Linux), finds its window,
checks where it stands, clicks 按钮1 and follows what happens: the requests in the time
service's access log, the clock requests in the program's clock log. Reads the window through
the platform's own means (the Win32 driver, or AT-SPI and the X window tree), never pixels.

    whole_program_e2e.py --platform win32 --wine <wine-run.sh> <prefix> --driver <exe> ...
    whole_program_e2e.py --platform gtk --window-manager xfwm4|none ...
    common: --program <exe> --service <folder> --zone-offset <seconds> --out <folder>

Run inside in_xvfb.sh (win32) or xvfb-run and dbus-run-session (gtk), on a 1024x768 screen.
"""
import argparse
import datetime
import os
import re
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
TESTS = HERE.parent

START = "启动"
STOP = "停止"
OUTER = (401, 299, 222, 169)  # left, top, width, height on a 1024x768 screen
INTERVAL = 0.8  # the box's initial "800"
# A pass is the interval plus a loopback fetch and a clock call: well under 0.2 s more.
GAP_RANGE = (0.78, 1.0)
# Single gaps may stretch on a loaded machine; no gap may come near twice the interval.
GAP_LIMITS = (0.75, 1.5)
REQUESTS_WANTED = 8
QUIET_INTERVALS = 5  # after a stop, the log must stay still this many intervals
CLOCK_TOLERANCE = 2.0  # seconds between a clock request and the service's clock

# Whatever a user's proxy settings say, the program goes straight to loopback.
PROXY_VARIABLES = ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                   "ALL_PROXY", "ftp_proxy", "FTP_PROXY")


class Failures:
    def __init__(self):
        self.messages = []

    def check(self, condition, message):
        print(f"  {'ok  ' if condition else 'FAIL'} {message}", flush=True)
        if not condition:
            self.messages.append(message)
        return condition


def wait_until(predicate, timeout, step=0.1):
    """The first true value of predicate, or None once timeout seconds have passed."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            return None
        time.sleep(step)


class AccessLog:
    """Follows nginx's access log from its current end, stamping each new line on arrival."""

    LINE = re.compile(r'^(\S+) \S+ \S+ \[([^\]]+)\] "([^"]*)" (\d{3}) ')

    def __init__(self, path):
        self.path = Path(path)
        self.offset = self.path.stat().st_size if self.path.exists() else 0
        self.entries = []  # (monotonic time seen, nginx's time, request line, status, address)
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.partial = b""
        self.thread = threading.Thread(target=self._follow, daemon=True)
        self.thread.start()

    def _follow(self):
        while not self.stopping.is_set():
            self._read()
            time.sleep(0.005)

    def _read(self):
        if not self.path.exists():
            return
        with open(self.path, "rb") as log:
            log.seek(self.offset)
            data = log.read()
        if not data:
            return
        seen = time.monotonic()
        self.offset += len(data)
        lines = (self.partial + data).split(b"\n")
        self.partial = lines.pop()
        for raw in lines:
            match = self.LINE.match(raw.decode("utf-8", "replace"))
            if match is None:
                continue
            address, stamp, request, status = match.groups()
            when = datetime.datetime.strptime(stamp, "%d/%b/%Y:%H:%M:%S %z")
            with self.lock:
                self.entries.append((seen, when, request, int(status), address))

    def snapshot(self):
        with self.lock:
            return list(self.entries)

    def close(self):
        self.stopping.set()
        self.thread.join()


FIELDS = ("wYear", "wMonth", "wDay", "wHour", "wMinute", "wSecond", "wMilliseconds", "wDayOfWeek")


def clock_requests(path):
    """The clock log's lines as dicts: the function called, the SYSTEMTIME fields, and 'at' in
    seconds since 1970 (UTC)."""
    if not path.exists():
        return []
    requests = []
    for line in path.read_text().splitlines():
        function, *items = line.split()
        pairs = dict(item.split("=", 1) for item in items)
        request = {name: int(pairs[name]) for name in FIELDS}
        request["function"] = function
        request["at"] = float(pairs["at"])
        requests.append(request)
    return requests


def clock_offset(request, zone_offset):
    """Seconds from the service's clock at the moment of the request to the time requested."""
    wall = datetime.datetime(request["wYear"], request["wMonth"], request["wDay"], request["wHour"],
                             request["wMinute"], request["wSecond"], tzinfo=datetime.timezone.utc)
    service = datetime.datetime.fromtimestamp(request["at"] + zone_offset, datetime.timezone.utc)
    return (wall - service).total_seconds()


def screenshot(out, name):
    whole = Path(out) / f"{name}.png"
    subprocess.run(["import", "-window", "root", str(whole)], check=True, timeout=60)
    # The window's surroundings, enlarged, to read the texts.
    left, top, width, height = OUTER
    subprocess.run(["convert", str(whole), "-crop", f"{width + 40}x{height + 40}+{left - 20}+"
                    f"{top - 20}", "+repage", "-scale", "300%",
                    str(Path(out) / f"{name}-enlarged.png")], check=True, timeout=60)
    print(f"  screenshot {whole}", flush=True)


class Win32Program:
    """The Windows program under Wine, read and worked through window_driver.exe."""

    KEYS = {"enter": "enter", "esc": "esc", "shift+esc": "shift+esc"}

    def __init__(self, args, environment):
        sys.path.insert(0, str(TESTS / "app" / "win32"))
        import window_test  # noqa: E402  (the window tests' session and readers)
        self.w = window_test
        session_args = argparse.Namespace(wine=args.wine, program=args.program, driver=args.driver,
                                          out=args.out)
        os.environ.clear()
        os.environ.update(environment)
        # Finds the window and waits until the focus is in 编辑框1.
        self.session = window_test.Session(session_args, "e2e")

    def outer(self):
        left, top, right, bottom = self.session.dump()["window"]["rect"]
        return (left, top, right - left, bottom - top)

    def caption(self):
        state = self.session.dump()
        return self.w.caption(state) if state else None

    def edit_text(self):
        state = self.session.dump()
        return self.w.edit_text(state) if state else None

    def focus(self):
        state = self.session.dump()
        return {"Edit": "编辑框1", "Button": "按钮1"}.get(self.w.focused(state)) if state else None

    def click(self):
        return self.session.click()

    def key(self, name):
        return self.session.keys(self.KEYS[name])

    def window_open(self):
        return self.session.process.poll() is None and \
            self.session.driver("find", "0").returncode == 0

    def exit_code(self, timeout):
        return self.session.exit_code(timeout)

    def kill(self):
        if self.session.process.poll() is None:
            self.session.process.kill()


class GtkProgram:
    """The Linux program, read through AT-SPI and the X window tree, worked with xdotool."""

    KEYS = {"enter": "Return", "esc": "Escape", "shift+esc": "shift+Escape"}

    def __init__(self, args, environment):
        sys.path.insert(0, str(TESTS / "app" / "gtk"))
        import window_e2e  # noqa: E402  (the window tests' program and readers)
        self.w = window_e2e
        window_e2e.PROGRAM = args.program
        window_e2e.OUTPUT_DIR = args.out
        window_e2e.Atspi.init()
        self.manager = window_e2e.start_window_manager(args.window_manager)
        os.environ.clear()
        os.environ.update(environment)
        # Finds the accessible frame and the X window, waits for the outer size and the focus.
        self.program = window_e2e.Program(str(Path(args.out) / "unused-interval-record"))

    def outer(self):
        return self.w.x_outer_rectangle(self.program.window)

    def caption(self):
        return self.program.text("按钮1")

    def edit_text(self):
        return self.program.text("编辑框1")

    def focus(self):
        return self.program.focused()

    def click(self):
        # "mousemove --sync" onto the spot where the pointer already is waits for a motion that
        # never comes (about 15 s): the pointer leaves the window first.
        self.w.xdotool("mousemove", "0", "0")
        self.program.click("按钮1")
        return True

    def key(self, name):
        self.program.keys(self.KEYS[name])
        return True

    def window_open(self):
        return self.program.running() and self.program._find_x_window() is not None

    def exit_code(self, timeout):
        return self.program.wait_exit(timeout)

    def kill(self):
        self.program.stop()
        if self.manager is not None:
            self.manager.terminate()
            self.manager.wait()


def gaps(times):
    return [b - a for a, b in zip(times, times[1:])]


def figures(values):
    return (f"min {min(values):.3f} s, median {statistics.median(values):.3f} s, "
            f"max {max(values):.3f} s over {len(values)}") if values else "none"


def run(args, f):
    service = Path(args.service)
    port = (service / "port").read_text().strip()
    out = Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    clock_log = out / "clock-requests.log"
    clock_log.unlink(missing_ok=True)

    environment = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES}
    environment["no_proxy"] = environment["NO_PROXY"] = "*"
    environment["TOCKMERE_E2E_URL"] = f"http://127.0.0.1:{port}/time15.asp"
    if args.platform == "win32":
        environment["TOCKMERE_E2E_CLOCK_FILE"] = "Z:" + str(clock_log).replace("/", "\\")
    else:
        environment["TOCKMERE_E2E_CLOCK_FILE"] = str(clock_log)

    log = AccessLog(service / "access.log")
    print(f"- the program starts (time service on 127.0.0.1:{port})", flush=True)
    program = (Win32Program if args.platform == "win32" else GtkProgram)(args, environment)
    try:
        steps(program, log, clock_log, args, f)
    finally:
        program.kill()
        log.close()


def steps(program, log, clock_log, args, f):
    f.check(program.outer() == OUTER, f"outer rectangle {program.outer()} (want {OUTER})")
    f.check(program.caption() == START, f"caption {program.caption()!r} at start")
    f.check(program.edit_text() == "800", f"编辑框1 holds {program.edit_text()!r}")
    f.check(program.focus() == "编辑框1", f"the focus is in {program.focus()}")
    screenshot(args.out, "window")

    print("- Enter in 编辑框1, then Shift+Esc", flush=True)
    program.key("enter")
    program.key("shift+esc")
    time.sleep(1.5)  # a click or a close they set off would show by now
    f.check(program.window_open(), "the window is still open after Shift+Esc")
    f.check(program.caption() == START, f"Enter did not click 按钮1: caption {program.caption()!r}")
    f.check(log.snapshot() == [], f"no request before the click: {len(log.snapshot())}")
    f.check(clock_requests(clock_log) == [], "no clock request before the click")

    print("- a click on 按钮1 starts synchronisation", flush=True)
    clicked = time.monotonic()
    f.check(program.click(), "the click was sent")
    f.check(wait_until(lambda: program.caption() == STOP, 15) is not None,
            f"caption {STOP!r} after the click")
    if not wait_until(lambda: len(log.snapshot()) >= REQUESTS_WANTED, 30, 0.05):
        f.check(False, f"{REQUESTS_WANTED} requests within 30 s: {len(log.snapshot())}")
        return
    screenshot(args.out, "synchronising")
    entries = log.snapshot()
    first = entries[0][0] - clicked
    f.check(first < 5, f"the first request {first:.3f} s after the click was sent")
    f.check(all(e[2] == "GET /time15.asp HTTP/1.0" and e[3] == 200 and e[4] == "127.0.0.1"
                for e in entries), f"each request GET /time15.asp from 127.0.0.1, answered 200: "
            f"{sorted({(e[2], e[3], e[4]) for e in entries})}")
    arrival = gaps([e[0] for e in entries])
    print(f"  request gaps as seen: {' '.join(f'{g:.3f}' for g in arrival)}", flush=True)
    f.check(GAP_RANGE[0] <= statistics.median(arrival) <= GAP_RANGE[1],
            f"requests {figures(arrival)} apart, median within {GAP_RANGE}")
    f.check(all(GAP_LIMITS[0] <= g <= GAP_LIMITS[1] for g in arrival),
            f"every gap within {GAP_LIMITS}")
    # nginx's own stamps have whole seconds: the span of n requests is n-1 gaps, give or take 1 s.
    span = (entries[-1][1] - entries[0][1]).total_seconds()
    least, most = (len(entries) - 1) * GAP_RANGE[0] - 1, (len(entries) - 1) * GAP_RANGE[1] + 1
    f.check(least <= span <= most, f"nginx's stamps span {span:.0f} s for {len(entries)} "
            f"requests ({least:.1f}-{most:.1f})")

    requests = clock_requests(clock_log)
    f.check(len(entries) - 1 <= len(requests) <= len(entries),
            f"{len(requests)} clock requests for {len(entries)} fetches")
    functions = sorted({r["function"] for r in requests})
    f.check(all(r["function"] == "SetLocalTime" for r in requests),
            f"every clock request goes to SetLocalTime: {functions}")
    offsets = [clock_offset(r, args.zone_offset) for r in requests]
    if requests:
        last = requests[-1]
        print(f"  last clock request: {' '.join(f'{k}={last[k]}' for k in FIELDS)}", flush=True)
        print(f"  clock requests minus the service's clock: {figures(offsets)}", flush=True)
    f.check(requests and all(abs(o) <= CLOCK_TOLERANCE for o in offsets),
            f"every clock request within {CLOCK_TOLERANCE} s of the service's clock "
            f"(zone offset {args.zone_offset} s)")
    weekdays = [(datetime.date(r["wYear"], r["wMonth"], r["wDay"]).isoweekday() % 7,
                 r["wDayOfWeek"]) for r in requests]
    f.check(all(want == seen for want, seen in weekdays) and
            all(r["wMilliseconds"] == 0 for r in requests),
            "each request carries its day of the week and 0 milliseconds")
    clock_gaps = gaps([r["at"] for r in requests])
    f.check(bool(clock_gaps) and GAP_RANGE[0] <= statistics.median(clock_gaps) <= GAP_RANGE[1],
            f"clock requests {figures(clock_gaps)} apart")

    print("- a second click stops it", flush=True)
    clicking = time.monotonic()
    f.check(program.click(), f"the click was sent ({time.monotonic() - clicking:.1f} s)")
    f.check(wait_until(lambda: program.caption() == START, 15) is not None,
            f"caption {START!r} after the second click")
    # Everything sent before the stop has reached the log by the time the caption is read back.
    stopped_requests = len(log.snapshot())
    stopped_clock = len(clock_requests(clock_log))
    time.sleep(QUIET_INTERVALS * INTERVAL)
    f.check(len(log.snapshot()) == stopped_requests,
            f"no request in {QUIET_INTERVALS} intervals after the stop: "
            f"{len(log.snapshot()) - stopped_requests}")
    f.check(len(clock_requests(clock_log)) == stopped_clock,
            f"no clock request after the stop: {len(clock_requests(clock_log)) - stopped_clock}")
    print(f"  in all: {len(log.snapshot())} requests, {stopped_clock} clock requests", flush=True)

    print("- Esc closes the window", flush=True)
    program.key("esc")
    f.check(wait_until(lambda: not program.window_open(), 15) is not None, "the window is gone")
    code = program.exit_code(30)
    f.check(code == 0, f"exit code {code}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--platform", choices=("win32", "gtk"), required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--service", required=True, help="the time service's folder")
    parser.add_argument("--zone-offset", type=int, required=True,
                        help="seconds east of UTC of the service's zone")
    parser.add_argument("--out", required=True)
    parser.add_argument("--wine", nargs=2, metavar=("RUNNER", "PREFIX"))
    parser.add_argument("--driver")
    parser.add_argument("--window-manager", default="none")
    args = parser.parse_args()
    if args.platform == "win32" and (not args.wine or not args.driver):
        parser.error("--platform win32 needs --wine and --driver")
    failures = Failures()
    run(args, failures)
    for message in failures.messages:
        print(f"FAILED: {message}")
    print(f"whole program ({args.platform}): {'failed' if failures.messages else 'passed'}")
    return 1 if failures.messages else 0


if __name__ == "__main__":
    sys.exit(main())

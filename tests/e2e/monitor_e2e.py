#!/usr/bin/env python3
"""Kelvane.exe on the frame's own monitor, under Wine with two monitors (harness.py).

The scenarios start an X server of their own with two Xinerama screens, which Xvfb lays over each
other at (0, 0), and tell Wine's X11 driver to use Xinerama: Wine then has \\\\.\\DISPLAY1, the
primary (1024 x 768), and \\\\.\\DISPLAY2 (800 x 600). The frame is mounted on the monitor the run
should choose (the simulator's screen is that monitor's size) and its finger touches the crosshair
of each target where the run drew it: a run laid out for another monitor's size would put its
targets elsewhere on the frame, and the frame would receive another result. The console's page
starts the program without arguments, and it finds the mapped monitor itself; tactractl's
--monitor names one.

The display number is TACTRA_E2E_MONITORS_DISPLAY, else the first free one from 150.
"""

import os
import subprocess
import sys
import tempfile

from console_calibration import end_run
from console_common import CAL, Started, close_with_escape, console_up, open_calibration_page
from console_ids import IDC_CAL_START
from harness import Frame, check, colour_count, poll, run_scenarios, run_windows, screenshot
from kelvane_e2e import (BUTTON_FILL, CURRENT_PEN, END, GET_MODE, BEGIN, OS_CLASS_UNDER_WINE, WRITE_RESULT, Kelvane,
                        check_run_layout)

MONITORS = {1: (1024, 768), 2: (800, 600)}
MAPPING_KEY = r"HKLM\SOFTWARE\Microsoft\Wisp\Pen\Digimon"
X11_DRIVER_KEY = r"HKCU\Software\Wine\X11 Driver"
# A digitizer of the frame as the system names it, and another maker's pen.
FRAME_DIGITIZER = r"\\?\HID#VID_595A&PID_0008&Col01#7&2f3a1b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"
OTHER_PEN = r"\\?\HID#VID_056A&PID_0008&Col01#7&11aa22&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"
MODE = 3  # five targets: the centre and the four corners
# Where they lie, as fractions of the monitor, in the order the run takes them.
TARGETS = [(1 / 2, 1 / 2), (1 / 32, 1 / 32), (31 / 32, 1 / 32), (31 / 32, 31 / 32), (1 / 32, 31 / 32)]
# The run draws a target's crosshair on whole pixels, the simulator's own targets lie on fractions
# of its screen: on 600 rows the top corners' 18.75 is drawn at row 20 (a target 46 high whose
# top, -3.75, truncates to -3). Up to 1.5 pixels, which on 600 rows of 4096 raw units and
# extrapolated by 16/15 to the edges is 11 raw units. A run laid out for the other monitor is
# hundreds away.
PIXEL_TOLERANCE = 1.5
RAW_TOLERANCE = 12


class Screen:
    """The scenarios' X server and what Wine says of its displays."""
    proc = None
    display = None
    saved_display = None
    paths = {}  # display number: the monitor's interface path


def free_display():
    wanted = os.environ.get("TACTRA_E2E_MONITORS_DISPLAY")
    if wanted:
        return int(wanted)
    return next(n for n in range(150, 250) if not os.path.exists("/tmp/.X%d-lock" % n))


def use_display(env, display):
    os.environ["DISPLAY"] = display
    env.base["DISPLAY"] = display


def expected_points(env, width, height):
    tool = os.path.join(env.native_bin, "tactra-e2e-expected")
    out = subprocess.run([tool, str(MODE), str(width), str(height), str(OS_CLASS_UNDER_WINE), "0"],
                         capture_output=True, text=True, check=True)
    return points_of(bytes.fromhex(out.stdout.strip()))


def points_of(payload):
    """The nine border points of a five- or nine-target result."""
    return [(int.from_bytes(payload[i:i + 2], "little"), int.from_bytes(payload[i + 2:i + 4], "little"))
            for i in range(0, len(payload), 4)]


def magenta_profile(png, size, across):
    """How much of each row (across False) or column (True) of the monitor's part of a screenshot
    is of the current target's colour, 0 to 65535."""
    scale = "%dx1!" % size[0] if across else "1x%d!" % size[1]
    out = subprocess.run(["convert", png, "-crop", "%dx%d+0+0" % size, "+repage", "-fill", "black", "+opaque",
                          "#%02X%02X%02X" % CURRENT_PEN, "-fill", "white", "-opaque", "#%02X%02X%02X" % CURRENT_PEN,
                          "-colorspace", "gray", "-depth", "16", "-scale", scale, "txt:-"],
                         capture_output=True, text=True).stdout
    values = []
    for line in out.splitlines()[1:]:
        values.append(int(line.split("(")[1].split(")")[0].split(",")[0].split(".")[0]))
    return values


def current_crosshair(env, size):
    """The centre of the current target's crosshair on the screen, once a screenshot shows it
    (the marks blink); None when none shows. Its lines are the row and the column that hold the
    most of the target's colour: a target cut by the monitor's edge still has both."""
    png = screenshot(env, "monitor-target.png")
    rows, columns = magenta_profile(png, size, False), magenta_profile(png, size, True)
    if not rows or not columns or max(rows) == 0:
        return None
    # With the crosshair on screen its row and its column stand out, half as long again as any
    # bracket's; the brackets alone come in pairs of equal rows and columns.
    for profile in (rows, columns):
        longest, *rest = sorted(profile, reverse=True)
        if longest < 1.5 * rest[0]:
            return None
    y, x = rows.index(max(rows)), columns.index(max(columns))
    return x, y


def touch_targets(env, frame, program, size, count):
    """Touches each target where the run shows it, until the run has all of them."""
    touched = []
    for k in range(count):
        found = []
        check(poll(lambda: found.append(current_crosshair(env, size)) or found[-1] is not None, 25, 0.2),
              "target %d never showed (%s)" % (k, program.state()))
        x, y = found[-1]
        touched.append((x, y))
        frame.ctl("touch", str(x), str(y))
        # Held until the run takes the next target (or, after the last, its result).
        moved = lambda: (frame.wait_for(WRITE_RESULT, 0) if k == count - 1
                         else current_crosshair(env, size) not in (None, (x, y)))
        check(poll(moved, 15, 0.2), "target %d at %s was not taken" % (k, (x, y)))
        frame.ctl("lift")
    return touched


def run_on(env, monitor, args=(), title=None):
    """A whole run that should cover `monitor`, the frame mounted on it, kept with Enter."""
    size = MONITORS[monitor]
    frame = Frame(env, MODE, touch="manual", screen=size)
    log = os.path.join(env.artifacts, "steps-monitor%d.log" % monitor)
    program = Kelvane(env, frame.port, args, startup_log=log)
    try:
        wid = program.wait_window(lambda w, h, _: (w, h) == size, 15)
        check(wid, "no window covering monitor %d (%dx%d): %s" % (monitor, size[0], size[1], program.state()))
        geometry = subprocess.run(["xdotool", "getwindowgeometry", wid], capture_output=True, text=True).stdout
        check("Position: 0,0" in geometry, "the window is not at the monitor's origin: %s" % geometry.strip())
        if title:
            shown = next(t for w, _, _, t in program.visible_windows() if w == wid)
            check(shown == title, "window title %r, not %r" % (shown, title))
        touched = touch_targets(env, frame, program, size, len(TARGETS))
        exact = [(fx * size[0], fy * size[1]) for fx, fy in TARGETS]
        check(all(abs(x - ex) <= PIXEL_TOLERANCE and abs(y - ey) <= PIXEL_TOLERANCE
                  for (x, y), (ex, ey) in zip(touched, exact)),
              "targets drawn at %s, the monitor's are at %s" % (touched, exact))
        check(poll(lambda: colour_count(screenshot(env, "monitor-done.png"), (0, 0) + size, BUTTON_FILL) > 0, 10,
                   0.3), "the buttons did not appear")
        screenshot(env, "monitor%d-complete.png" % monitor)
        lang = 1 if "1" in args else 0
        check_run_layout(env, lang, "the finished screen on monitor %d" % monitor, size)
        program.key_to(wid, "Return")
        check(program.wait_exit(20), "the program did not end after Return")
        program.check_end("kept")
        commands = frame.calibration_commands()
        check([c for c, _ in commands] == [GET_MODE, BEGIN, WRITE_RESULT, END], "commands %s" % commands)
        got, want = points_of(commands[2][1]), expected_points(env, *size)
        off = max(max(abs(a - b), abs(c - d)) for (a, c), (b, d) in zip(got, want))
        check(len(got) == 9 and off <= RAW_TOLERANCE,
              "result %s, the monitor's size gives %s (touched %s)" % (got, want, touched))
        return "%dx%d, targets at %s, result within %d raw units" % (size[0], size[1], touched, off)
    finally:
        program.kill()
        frame.stop()


def add_mapping(env, digitizer, monitor):
    env.reg("add", MAPPING_KEY, "/v", digitizer, "/t", "REG_SZ", "/d", Screen.paths[monitor], "/f")


def drop_mappings(env):
    env.reg("delete", MAPPING_KEY, "/f")


def scenario_mapped(env):
    # Another pen's mapping first: only the frame's counts.
    add_mapping(env, OTHER_PEN, 1)
    add_mapping(env, FRAME_DIGITIZER, 2)
    try:
        return run_on(env, 2)
    finally:
        drop_mappings(env)


def scenario_argument(env):
    # The language argument keeps its meaning beside the monitor's.
    return run_on(env, 2, args=("/monitor:2", "1"), title="触摸框校准")


def scenario_primary(env):
    drop_mappings(env)
    return run_on(env, 1)


def scenario_console_start(env):
    # The console starts the program without arguments: it finds the mapping itself.
    add_mapping(env, FRAME_DIGITIZER, 2)
    try:
        with console_up(env, MODE, "manual") as (frame, console):
            kelvane = Started("Kelvane.exe", frame.port)
            try:
                open_calibration_page(console, frame)
                console.probe("click", CAL, str(IDC_CAL_START))
                wid = kelvane.wait_window(lambda w, h, _: (w, h) == MONITORS[2], 20)
                check(wid, "the program the console started does not cover monitor 2: %s" %
                      [(w, h) for _, w, h, _ in kelvane.visible_windows()])
                how = end_run(console, frame, kelvane, wid)
                close_with_escape(console)
                return "the console's start covered monitor 2 (ended by %s)" % how
            finally:
                for pid in kelvane.pids():
                    os.kill(int(pid), 9)
    finally:
        drop_mappings(env)


def scenario_tool_start(env):
    # The mapping names the primary; the tool's --monitor outweighs it.
    add_mapping(env, FRAME_DIGITIZER, 1)
    frame = Frame(env, MODE, touch="manual")
    kelvane = Started("Kelvane.exe", frame.port)
    try:
        with tempfile.TemporaryFile() as said:
            tool = env.wine("tactractl.exe", "calibration", "start", "--monitor", "2", "--json",
                            env=env.transport.program_env(frame.port), stdout=said, stderr=subprocess.DEVNULL)
            code = tool.wait(60)
            said.seek(0)
            out = said.read().decode("utf-8", "replace")
        check(code == 0 and '"started":true' in out, "tactractl: exit code %d, %s" % (code, out.strip()))
        wid = kelvane.wait_window(lambda w, h, _: (w, h) == MONITORS[2], 20)
        check(wid, "the program tactractl started does not cover monitor 2: %s" %
              [(w, h) for _, w, h, _ in kelvane.visible_windows()])
        started = [kelvane.command_line(pid) for pid in kelvane.pids()]
        check(len(started) == 1 and started[0][1:] == ["/monitor:2"], "started as %s" % started)
        kelvane.key_to(wid, "Escape")
        check(poll(lambda: not kelvane.pids(), 20), "the calibration program did not end")
        return "tactractl calibration start --monitor 2 over a mapping to 1: %s" % started[0][1:]
    finally:
        for pid in kelvane.pids():
            os.kill(int(pid), 9)
        frame.stop()
        drop_mappings(env)


SCENARIOS = [
    ("the mapped monitor", scenario_mapped),
    ("the argument's monitor, Chinese", scenario_argument),
    ("the primary without a mapping", scenario_primary),
    ("the console's start, mapped", scenario_console_start),
    ("tactractl's start, --monitor", scenario_tool_start),
]


def prepare(env):
    if not os.access(os.path.join(env.native_bin, "tactra-e2e-expected"), os.X_OK):
        print("missing tactra-e2e-expected: build the native tree first (scripts/build native)")
        return False
    # The prefix's processes keep the display they started on.
    env.settle()
    Screen.saved_display = os.environ.get("DISPLAY")
    n = free_display()
    Screen.proc = subprocess.Popen(["Xvfb", ":%d" % n, "+xinerama", "-screen", "0", "%dx%dx24" % MONITORS[1],
                                    "-screen", "1", "%dx%dx24" % MONITORS[2], "-nolisten", "tcp"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Its socket is there before it takes connections: a Wine process started then finds no display.
    answers = lambda: subprocess.run(["xdpyinfo", "-display", ":%d" % n], capture_output=True).returncode == 0  # noqa: E731
    if not poll(answers, 10, 0.1):
        print("Xvfb :%d did not start" % n)
        return False
    use_display(env, ":%d" % n)
    env.reg("add", X11_DRIVER_KEY, "/v", "UseXRandR", "/t", "REG_SZ", "/d", "N", "/f")
    env.reg_add_dword(r"HKLM\Software\Tactra\GlobalSettings", "Language", 0)
    env.settle()
    code, out = run_windows(env, ["monitor_probe.exe"])
    for line in out.splitlines():
        name, _, path = line.split(None, 2)
        Screen.paths[int(name.replace("\\\\.\\DISPLAY", ""))] = path.strip()
    if sorted(Screen.paths) != [1, 2] or "DISPLAY1 primary" not in out:
        print("Wine does not see two monitors, DISPLAY1 the primary (the probe's exit code %s):\n%s" % (code, out))
        return False
    return True


def finish(env, code):
    drop_mappings(env)
    env.reg("delete", X11_DRIVER_KEY, "/v", "UseXRandR", "/f")
    env.settle()
    if Screen.proc:
        Screen.proc.terminate()
        Screen.proc.wait(10)
    if Screen.saved_display:
        use_display(env, Screen.saved_display)


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare, finish=finish))

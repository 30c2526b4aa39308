#!/usr/bin/env python3
"""Kelvane.exe end to end under Wine and Xvfb against the native simulated frame (harness.py).

Screenshots of the runs go to the artifacts folder.
"""

import os
import subprocess
import sys
import time

from harness import (BOTH, CAL_CHANNEL, SCREEN, SIM, Failure, Frame, Program, check, colour_count, grid_points_payload,
                     compare_across_transports, dismiss_box, dismiss_owned_box, free_port, inside, overlap,
                     parse_layout, probe_box, poll, poll_value, program_alone, run_scenarios, screenshot,
                     startup_overhead)

GET_MODE, BEGIN, WRITE_RESULT, END = 0x01, 0x03, 0x04, 0x05
CAL_REPORT_ID, CAL_REPORT_LENGTH = 6, 48
FIXED_PAUSES_MS = 3 * 200  # the link's start; the conversation runs with the first target on screen
OS_CLASS_UNDER_WINE = 6  # Wine reports Windows 7 or later
MODULE = "KelvaneLangEN.dll"
# The run's window is looked at by a probe process each time, not by the one that serves the
# console's scenarios: beside that long-lived process the run's window came up unpainted in some
# starts at 150 % (3 of 5 tries, none of 6 with a process each). Why is not known yet.
OWN_PROBE = True
CURRENT_PEN = (255, 0, 255)
BUTTON_FILL = (110, 155, 215)


class Kelvane(Program):
    STARTUP_LOG_VARIABLE = "KELVANE_STARTUP_LOG"

    def __init__(self, env, port, args=(), startup_log=None, cwd=None, exe="Kelvane.exe"):
        super().__init__(env, exe, port, args, cwd=cwd, startup_log=startup_log)

    def wait_visible(self, small=False, timeout=15):
        """A visible window of the program: the full-screen run, or (small) a message box."""
        return self.wait_window(lambda w, h, _: ((w, h) == SCREEN) != small, timeout)

    def wait_box_gone(self, timeout):
        return poll(lambda: not self.wait_visible(small=True, timeout=0), timeout, 0.2)

    # How a run ended, as the program's exit code says.
    ENDS = {"kept": 0, "abandoned": 1, "no frame": 2, "timed out": 3, "removed": 4, "refused": 5, "not run": 6}

    def check_end(self, end):
        code = self.proc.returncode
        check(code == self.ENDS[end], "exit code %s, not %d (%s)" % (code, self.ENDS[end], end))

    def window(self, timeout=15):
        wid = self.wait_visible(timeout=timeout)
        if not wid:
            raise Failure("no visible Kelvane window (%s; as the system has it: %s)" % (self.state(), self.run_window()))
        return wid

    def run_window(self):
        """The run's window as the system has it (its first line from the probe), beside what the
        X server has of it: a window that the X server shows at another size says where."""
        for title in RUN_TITLES.values():
            code, out = self.env.probe("x:" + title.encode().hex(), "show", own_process=OWN_PROBE)
            if code == 0:
                return out.splitlines()[0]
        return "no run window"

    def title(self):
        return next(t for wid, _, _, t in self.visible_windows() if wid == self.window())

    def key(self, name):
        self.key_to(self.window(), name)


def expected_payload(env, mode):
    tool = os.path.join(env.native_bin, "tactra-e2e-expected")
    out = subprocess.run([tool, str(mode), str(SCREEN[0]), str(SCREEN[1]), str(OS_CLASS_UNDER_WINE), "0"],
                         capture_output=True, text=True, check=True)
    return bytes.fromhex(out.stdout.strip())


def calibration_report(code, payload):
    """A whole calibration-channel report as the program writes it: ID, code, N, payload, the
    terminator, zeros to the report's length."""
    report = bytes([CAL_REPORT_ID, code, len(payload)]) + bytes(payload) + b"\xff"
    return report + bytes(CAL_REPORT_LENGTH - len(report))


def check_whole_reports(frame, env, name):
    """Every calibration-channel report arrived whole and as the program builds it, over either
    transport, and as over the other transport where its run left its reports."""
    reports = frame.received(CAL_CHANNEL)
    for b in reports:
        check(len(b) == CAL_REPORT_LENGTH, "a %d-byte report on the calibration channel" % len(b))
        check(b == calibration_report(b[1], b[3:3 + b[2]]), "report %s is not as built" % b.hex())
    return compare_across_transports(env, name, reports, os.path.join(env.bin, "Kelvane.exe"))


def four_point_payload():
    """Mode 2 with the default map on an unrotated display, where every operating-system class
    expects the corners at 127 and 3968 on each axis. The frame measures the corner targets
    (1/32 and 31/32 of the screen) at raw 128 and 3968, a rectangle, so the fit scales both axes
    by 3841/3840 (c0 = c4 = 4096 * 3841 / 3840 = 4097.07, rounded 4097) without shear; the
    offsets 127 - 128 * 4097 / 4096 = -1.03 and 3968 - 3968 * 4097 / 4096 = -0.97 round (add a
    half, truncate) to 0."""
    c = [4097, 0, 0, 0, 4097, 0]
    return b"".join((v & 0xFFFF).to_bytes(2, "little") for v in c)


def wait_colour(env, rgb, box, timeout, name="wait.png"):
    """True once a screenshot shows the colour inside the box."""
    return poll(lambda: colour_count(screenshot(env, name), box, rgb) > 0, timeout, 0.3)


def full_run(env, mode, key, language_args=(), shots=None, exe="Kelvane.exe", cwd=None):
    """A whole run to its end; the program is the build's unless exe (and its folder cwd) names
    another, such as an installed one."""
    frame = Frame(env, mode)
    log = os.path.join(env.artifacts, "startup-mode%d.log" % mode)
    program = Kelvane(env, frame.port, language_args, startup_log=log, cwd=cwd, exe=exe)
    try:
        program.window()
        if shots:
            time.sleep(3)
            screenshot(env, shots + "-in-progress.png")
        check(frame.wait_for(WRITE_RESULT, 60), "no CMD_CAL_WRITE_RESULT within 60 s")
        # Enter keeps the result once the buttons are on screen (with the next tick).
        check(wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, 10), "the buttons did not appear")
        if shots:
            screenshot(env, shots + "-complete.png")
        title = program.title()
        program.key(key)
        asked = time.time()
        check(program.wait_exit(20), "the program did not end after %s" % key)
        program.check_end("kept" if key == "Return" else "abandoned")
        # Its 500 ms pause, then nothing that waits: seconds more mean something waited in vain.
        taken = time.time() - asked
        check(taken < 2.0, "the program took %.1f s to end after %s" % (taken, key))
        commands = frame.calibration_commands()
        codes = [c for c, _ in commands]
        check(codes == [GET_MODE, BEGIN, WRITE_RESULT, END], "commands %s" % codes)
        check(commands[2][1] == expected_payload(env, mode),
              "result %s, computed %s" % (commands[2][1].hex(), expected_payload(env, mode).hex()))
        by_hand = grid_points_payload() if mode in (3, 4) else four_point_payload()
        check(commands[2][1] == by_hand, "result %s, worked out by hand %s" % (commands[2][1].hex(), by_hand.hex()))
        keep = 1 if key == "Return" else 0
        check(commands[3][1] == bytes([keep]), "CMD_CAL_END payload %s" % commands[3][1].hex())
        same = check_whole_reports(frame, env, "mode%d-%s" % (mode, key))
        return title, "startup beyond fixed pauses: %s ms%s" % (startup_overhead(log, "first-target", FIXED_PAUSES_MS), same and "; " + same)
    finally:
        program.kill()
        frame.stop()


def scenario_mode4_ok(env):
    return full_run(env, 4, "Return", shots="english-mode4")[1]


def scenario_mode3_chinese_cancel(env):
    title, note = full_run(env, 3, "Escape", language_args=("1",), shots="chinese-mode3")
    check(title == "触摸框校准", "window title %r is not the Chinese caption" % title)
    return note


def scenario_mode2_ok(env):
    return full_run(env, 2, "Return")[1]


def cancel(program, end="abandoned"):
    program.key("Escape")
    check(program.wait_exit(20), "the program did not end after Escape")
    program.check_end(end)


def check_abandoned(frame):
    """The run told the frame nothing but its mode query, the start and CMD_CAL_END [0]."""
    commands = frame.calibration_commands()
    check([c for c, _ in commands] == [GET_MODE, BEGIN, END], "commands %s" % commands)
    check(commands[-1][1] == b"\x00", "CMD_CAL_END payload %s" % commands[-1][1].hex())


def scenario_no_touch(env):
    frame = Frame(env, 3, touch="manual")
    program = Kelvane(env, frame.port)
    try:
        program.window()
        started = time.time()
        check(program.wait_exit(40), "the run did not end by itself")
        program.check_end("timed out")
        elapsed = time.time() - started
        check(elapsed > 15, "the run ended after %.1f s" % elapsed)
        check_abandoned(frame)
        return "ended %.1f s after the window appeared" % elapsed
    finally:
        program.kill()
        frame.stop()


def scenario_no_frame(env):
    program = Kelvane(env, None)  # no frame: nothing listens, no device present
    try:
        first = dismiss_box(env, "KelvaneLangEN.dll")
        check(first == (1059, 1060), "first message %s" % (first,))
        second = dismiss_box(env, "KelvaneLangEN.dll")
        check(second == (1065, 1050), "second message %s" % (second,))
        check(program.wait_exit(15), "the program did not end")
        program.check_end("no frame")
        return "1059/1060 then 1065/1050"
    finally:
        program.kill()


def scenario_unplug(env):
    # Over the virtual frame the removal comes from Wine's plug-and-play: the bridge removes the
    # frame's six devices (on Windows: one device with six collections), and the program gets a
    # removal notice for each collection's path, in the HID#HIDCLASS#000N form of a root device
    # rather than a USB frame's HID#VID_595A&PID_0008&ColNN.
    frame = Frame(env, 4, touch="manual")
    program = Kelvane(env, frame.port)
    try:
        program.window()
        time.sleep(1.5)
        frame.ctl("unplug")
        first = dismiss_box(env, "KelvaneLangEN.dll")
        check(first == (1061, 1050), "first message %s" % (first,))
        second = dismiss_box(env, "KelvaneLangEN.dll")
        check(second == (1065, 1050), "second message %s" % (second,))
        check(program.wait_exit(15), "the program did not end")
        program.check_end("removed")
        codes = [c for c, _ in frame.calibration_commands()]
        check(codes == [GET_MODE, BEGIN], "commands %s" % codes)
        same = check_whole_reports(frame, env, "unplug")
        return "1061 then 1065, no CMD_CAL_END" + (same and "; " + same)
    finally:
        program.kill()
        frame.stop()


def scenario_unplug_at_start(env):
    # Unplugged while the run opens its conversation with the frame (its mode request held 1 s):
    # the program follows the removal from its first moment and ends at once, not when a wait
    # runs out on handles of a frame that is gone.
    frame = Frame(env, 3, touch="manual")
    frame.ctl("fault", "6:1", "delay", "1000")
    program = Kelvane(env, frame.port)
    try:
        program.window()
        frame.ctl("unplug")
        started = time.time()
        first = dismiss_box(env, "KelvaneLangEN.dll", timeout_ms=10000)
        check(first == (1061, 1050), "first message %s" % (first,))
        seen = time.time() - started
        second = dismiss_box(env, "KelvaneLangEN.dll")
        check(second == (1065, 1050), "second message %s" % (second,))
        check(program.wait_exit(15), "the program did not end")
        program.check_end("removed")
        codes = [c for c, _ in frame.calibration_commands()]
        check(codes == [GET_MODE], "commands %s" % codes)
        return "1061 %.1f s after the unplug, then 1065" % seen
    finally:
        program.kill()
        frame.stop()


def scenario_degenerate_fit(env):
    # Raw Y equals raw X: the four corners lie on one line, far enough apart to be taken.
    frame = Frame(env, 2, extra=("--raw-map", "1,2,0,1,2,0"))
    program = Kelvane(env, frame.port)
    try:
        program.window()
        box = dismiss_box(env, "KelvaneLangEN.dll", timeout_ms=60000)
        check(box == (1066, 1050), "message %s" % (box,))
        check(program.wait_box_gone(10), "the box stayed on screen")
        check(wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, 10), "the Cancel button did not appear")
        # No OK without a result: Enter is handled before Escape, which finds the run still there
        # and abandons it (an Enter taken as OK would have ended it with CMD_CAL_END [1]).
        program.key("Return")
        cancel(program)
        check_abandoned(frame)
        return "1066, no result sent, Cancel only"
    finally:
        program.kill()
        frame.stop()


def scenario_begin_refused(env):
    # The refusal is handed to the window's thread and shown once the opening conversation is
    # over (its 500 ms pause): at once, not when a wait runs out, and owned by the run.
    frame = Frame(env, 3, touch="manual")
    frame.ctl("fault", "6:3", "refuse")
    program = Kelvane(env, frame.port)
    try:
        check(program.wait_visible(small=True, timeout=5), "no message box within 5 s")
        box = dismiss_box(env, "KelvaneLangEN.dll", timeout_ms=2000)
        check(box == (1066, 1050), "message %s" % (box,))
        # Keys reach the run once the box has gone (without a window manager, Wine takes up to
        # 2 s to hide a box with a title bar).
        check(program.wait_box_gone(10), "the box stayed on screen")
        cancel(program, end="refused")
        check_abandoned(frame)
        return "1066 at once, then Cancel"
    finally:
        program.kill()
        frame.stop()


MOUSE_KEY = r"HKCU\Control Panel\Mouse"


def mouse_value(env, name):
    return env.reg_value(MOUSE_KEY, name)


def set_mouse_value(env, name, value):
    env.reg("add", MOUSE_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")


def scenario_mouse_setting_unreadable(env):
    # A four-character height cannot be read: message 1054, owned by the run like every message
    # of the run, and the run goes on.
    before = mouse_value(env, "DoubleClickHeight") or "4"
    set_mouse_value(env, "DoubleClickHeight", "1000")
    frame = Frame(env, 3, touch="manual")
    program = Kelvane(env, frame.port)
    try:
        text, caption, owner = dismiss_owned_box(env, "KelvaneLangEN.dll")
        check((text, caption) == (1054, 1050), "message %s" % ((text, caption),))
        check(owner == "run", "the message box's owner is %s, not the run's window" % owner)
        program.window()
        time.sleep(1.5)
        cancel(program)
        check_abandoned(frame)
        check(mouse_value(env, "DoubleClickHeight") == "1000", "the unreadable value was changed")
        return "1054 owned by the run, then the run"
    finally:
        program.kill()
        frame.stop()
        set_mouse_value(env, "DoubleClickHeight", before)


def scenario_module_missing(env):
    # The program alone in a folder of its own: neither module is found, not even the one
    # planted in the current directory, which is a folder that holds a module of that name.
    with program_alone(env, "Kelvane.exe", MODULE) as (exe, planted):
        program = Kelvane(env, free_port(), ("0",), cwd=planted, exe=exe)
        try:
            out = probe_box(env, None, 15000)
            check("caption=Error" in out, "caption: %s" % out)
            check("text=Cannot find language file: KelvaneLangEN.dll" in out, "text: %s" % out)
            check(program.wait_exit(15), "the program did not end")
            program.check_end("not run")
            return "fixed English message naming the module; the planted one was not taken"
        finally:
            program.kill()


def scenario_mode_unanswered(env):
    # A frame that never answers the mode request: the first target of the initial mode (the
    # centre, five targets) blinks with its countdown at once, and the run still ends after 20 s.
    frame = Frame(env, 4, touch="manual")
    frame.ctl("fault", "6:1", "silent")
    program = Kelvane(env, frame.port)
    try:
        started = time.time()
        program.window(timeout=10)
        centre = (SCREEN[0] // 2 - 40, SCREEN[1] // 2 - 40, 80, 80)
        check(wait_colour(env, CURRENT_PEN, centre, 5, "mode-unanswered.png"), "no target on screen")
        shown = time.time() - started
        check(program.wait_exit(35), "the run did not end by itself")
        program.check_end("timed out")
        elapsed = time.time() - started
        check(elapsed < 28, "the run ended only after %.1f s" % elapsed)
        commands = frame.calibration_commands()
        check([c for c, _ in commands] == [GET_MODE, END], "commands %s" % commands)
        check(commands[-1][1] == b"\x00", "CMD_CAL_END payload %s" % commands[-1][1].hex())
        return "centre target after %.1f s, ended after %.1f s" % (shown, elapsed)
    finally:
        program.kill()
        frame.stop()


def scenario_mode_answered_late(env):
    # A slow frame in mode 2 answers the mode request 1.5 s late, when the initial mode's centre
    # target is already on screen: the run starts again with the four corners, and the result is
    # the four-point one.
    frame = Frame(env, 2)
    frame.ctl("fault", "6:1", "delay", "1500")
    program = Kelvane(env, frame.port)
    try:
        program.window(timeout=10)
        centre = (SCREEN[0] // 2 - 40, SCREEN[1] // 2 - 40, 80, 80)
        check(wait_colour(env, CURRENT_PEN, centre, 5, "mode-late.png"), "no centre target before the answer")
        check(frame.wait_for(WRITE_RESULT, 60), "no CMD_CAL_WRITE_RESULT within 60 s")
        check(wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, 10), "the buttons did not appear")
        program.key("Return")
        check(program.wait_exit(20), "the program did not end after Return")
        program.check_end("kept")
        commands = frame.calibration_commands()
        check([c for c, _ in commands] == [GET_MODE, BEGIN, WRITE_RESULT, END], "commands %s" % commands)
        check(commands[2][1] == four_point_payload(), "result %s" % commands[2][1].hex())
        return "centre shown, then the four corners; the four-point result kept"
    finally:
        program.kill()
        frame.stop()


# The check's controls (resources/kelvane_ids.h) and its points on the 1024 x 768 screen: the
# centre, then the points at 1/4 and 3/4 of each axis clockwise from the top-left.
IDC_INSTRUCTION, IDC_CHECK, IDC_DONE, IDC_CALIBRATE_AGAIN, IDC_CHECK_DISTANCE_0 = 1000, 1011, 1012, 1013, 1014
CHECK_POINTS = [(512, 384), (256, 192), (768, 192), (768, 576), (256, 576)]
# Far from check point 4 (256, 576): 761.9 pixels away, and clear of every control.
FAR_TOUCH = (1000, 740)
RUN_TITLE = "Touch frame calibration"
RUN_TITLES = {0: RUN_TITLE, 1: "触摸框校准"}


def run_controls(env):
    """{id: (visible, text)} of the run's window, read back from its controls (window_probe)."""
    code, out = env.probe(RUN_TITLE, "show", own_process=OWN_PROBE)
    if code != 0:
        return None
    controls = {}
    for line in out.splitlines():
        if not line.startswith("control "):
            continue
        head, _, text = line.partition(" text=")
        fields = dict(part.partition("=")[::2] for part in head.split()[1:])
        controls[int(fields["id"])] = (fields["visible"] == "1", text)
    return controls


def click_control(env, control):
    """A click of the system's pointer in the middle of one of the run's controls."""
    code, out = env.probe(RUN_TITLE, "rect", "main", str(control), own_process=OWN_PROBE)
    check(code == 0, "no control %d (%s)" % (control, out.strip()))
    left, top, right, bottom = (int(v) for v in out.split("rect=")[1].split()[0].split(","))
    click_at((left + right) // 2, (top + bottom) // 2)


def click_at(x, y):
    # The window covers the screen from (0, 0): its coordinates are the screen's.
    subprocess.run(["xdotool", "mousemove", "--sync", str(x), str(y), "click", "1"], check=False, timeout=10)


def wait_shown(env, control, timeout=10):
    """The control's text once it is visible; None when it did not appear."""
    found = poll_value(lambda: (run_controls(env) or {}).get(control), lambda c: c and c[0], timeout)
    return found if found and found[0] else None


def wait_check_point(env, i):
    x, y = CHECK_POINTS[i]
    check(wait_colour(env, CURRENT_PEN, (x - 30, y - 30, 60, 60), 10, "check-wait.png"),
          "check point %d is not shown" % i)


def play_check(env, offsets):
    """Touches each check point at its offset once the point waits (its cross in the waiting pen);
    the distances the run shows beside the points."""
    shown = []
    for i, ((x, y), (dx, dy)) in enumerate(zip(CHECK_POINTS, offsets)):
        wait_check_point(env, i)
        click_at(x + dx, y + dy)
        label = wait_shown(env, IDC_CHECK_DISTANCE_0 + i)
        check(label is not None, "no distance beside check point %d" % i)
        shown.append(label[1])
    return shown


def finished_screen(env, frame, program, buttons=True):
    """The run, the auto finger on its targets, to its finished screen (and its buttons drawn)."""
    program.window()
    check(frame.wait_for(WRITE_RESULT, 60), "no CMD_CAL_WRITE_RESULT within 60 s")
    if buttons:
        check(wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, 10), "the buttons did not appear")


def kept_at_check(frame):
    """Check keeps the result as OK does: CMD_CAL_END comes before the first point."""
    check(poll(lambda: [c for c, _ in frame.calibration_commands()][-1:] == [END], 10), "no CMD_CAL_END")


def scenario_check_then_again(env):
    # The check plays the calibrated frame by clicking at known offsets from each point: the X
    # pointer is the system's pointer here, so the distances shown are exactly those offsets.
    # Then a second whole run in the same window, checked too, and Done.
    frame = Frame(env, 4)
    program = Kelvane(env, frame.port)
    try:
        finished_screen(env, frame, program)
        check(wait_shown(env, IDC_CHECK), "no Check button on the finished screen")
        screenshot(env, "check-finished.png")
        click_control(env, IDC_CHECK)
        # Kept as OK keeps it, before the first point.
        kept_at_check(frame)
        commands = frame.calibration_commands()
        check(commands == [(GET_MODE, b""), (BEGIN, b""), (WRITE_RESULT, grid_points_payload()), (END, b"\x01")],
              "commands %s" % commands)
        offsets = [(3, 4), (0, 0), (-6, 8), (5, -12), (-8, -15)]
        shown = play_check(env, offsets)
        check(shown == ["5.0 pixels", "0.0 pixels", "10.0 pixels", "13.0 pixels", "17.0 pixels"],
              "distances shown %s" % shown)
        check(wait_shown(env, IDC_DONE) and wait_shown(env, IDC_CALIBRATE_AGAIN), "no Done and Calibrate again")
        summary = run_controls(env)[IDC_INSTRUCTION][1]
        check("Largest distance: 17.0 pixels" in summary and "Mean distance: 9.0 pixels" in summary,
              "summary %r" % summary)
        screenshot(env, "check-complete.png")

        mark = len(frame.calibration_commands())
        click_control(env, IDC_CALIBRATE_AGAIN)
        # The mode request, the start and the targets as at the start, the auto finger on them.
        check(poll(lambda: WRITE_RESULT in [c for c, _ in frame.calibration_commands()[mark:]], 60),
              "no second CMD_CAL_WRITE_RESULT within 60 s")
        check(wait_shown(env, IDC_CHECK), "no Check button after the second run")
        click_control(env, IDC_CHECK)
        again = play_check(env, [(0, 0), (1, 0), (0, 2), (3, 4), (0, 0)])
        check(again == ["0.0 pixels", "1.0 pixels", "2.0 pixels", "5.0 pixels", "0.0 pixels"],
              "second distances %s" % again)
        check(wait_shown(env, IDC_DONE), "no Done after the second check")
        click_control(env, IDC_DONE)
        check(program.wait_exit(20), "the program did not end after Done")
        program.check_end("kept")
        second = frame.calibration_commands()[mark:]
        check(second == [(GET_MODE, b""), (BEGIN, b""), (WRITE_RESULT, grid_points_payload()), (END, b"\x01")],
              "second run's commands %s" % second)
        state = frame.dump()
        check(not state["calibrating"], "the frame is still calibrating")
        same = check_whole_reports(frame, env, "check")
        return "distances %s; a second run kept" % ", ".join(shown) + (same and "; " + same)
    finally:
        program.kill()
        frame.stop()


def scenario_check_escape(env):
    # In Chinese (the window's controls are found by its English title only: the check's texts
    # show in the screenshots): one point touched, the next one waiting, then Escape ends the
    # program, and the frame keeps the result it was given at Check.
    frame = Frame(env, 3)
    program = Kelvane(env, frame.port, ("1",))
    try:
        finished_screen(env, frame, program)
        screenshot(env, "check-finished-chinese.png")
        # Check sits centred under OK and Cancel.
        click_at(SCREEN[0] // 2, poll_button_row(env))
        kept_at_check(frame)
        wait_check_point(env, 0)
        click_at(CHECK_POINTS[0][0] + 6, CHECK_POINTS[0][1] + 8)
        wait_check_point(env, 1)
        screenshot(env, "check-chinese.png")
        program.key("Escape")
        check(program.wait_exit(20), "the program did not end after Escape")
        program.check_end("kept")
        ends = [(c, p) for c, p in frame.calibration_commands() if c == END]
        check(ends == [(END, b"\x01")], "CMD_CAL_END %s" % ends)
        return "one point touched, Escape, kept"
    finally:
        program.kill()
        frame.stop()


def scenario_check_untouched(env):
    # A check point not touched within 20 s ends the check and the program; the result stays kept.
    frame = Frame(env, 2)
    program = Kelvane(env, frame.port)
    try:
        finished_screen(env, frame, program, buttons=False)
        check(wait_shown(env, IDC_CHECK), "no Check button on the finished screen")
        started = time.time()
        click_control(env, IDC_CHECK)
        wait_check_point(env, 0)
        check(program.wait_exit(30), "the check did not end by itself")
        elapsed = time.time() - started
        program.check_end("kept")
        # 20 s from the first point, which comes after CMD_CAL_END and its 500 ms pause.
        check(20.4 < elapsed < 24, "the check ended %.1f s after Check" % elapsed)
        commands = frame.calibration_commands()
        check([c for c, _ in commands] == [GET_MODE, BEGIN, WRITE_RESULT, END] and commands[3][1] == b"\x01",
              "commands %s" % commands)
        return "ended %.1f s after Check, kept" % elapsed
    finally:
        program.kill()
        frame.stop()


DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def set_scaling(env, dpi):
    """The prefix's scaling (96: 100 %, 144: 150 %) for the programs started from now on."""
    if dpi == 96:
        env.reg("delete", DESKTOP_KEY, "/v", "LogPixels", "/f")
    else:
        env.reg("add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
    env.settle()


def run_layout_faults(env, lang, screen=SCREEN):
    """What the probe reads back of the run's visible controls: off the screen, a text cut by its
    control (a label's wrapped at words within its width), or one control over another."""
    code, out = env.probe("x:" + RUN_TITLES[lang].encode().hex(), "layout", own_process=OWN_PROBE)
    check(code == 0, "no layout of the run's window (%s)" % out.strip()[:200])
    shown = [c for c in parse_layout(out)["control"] if c["visible"] == "1"]
    faults = []
    for i, c in enumerate(shown):
        left, top, right, bottom = c["rect"]
        width, height = right - left, bottom - top
        name = "%s %r" % (c["id"], c["text"][:30])
        if not inside(c["rect"], (0, 0) + screen):
            faults.append("%s at %s leaves the screen" % (name, c["rect"]))
        w, h = c["text-size"]
        if c["class"].lower() == "button":
            # OK and Cancel draw their icon left of the text, as ui/icon_button.cpp does.
            if int(c["id"]) in (1, 2):
                icon = 32 if height >= 40 else 16
                width -= (height - icon) // 2 + icon + 6
            if w > width or h > height:
                faults.append("%s: its text (%dx%d) is cut in %dx%d" % (name, w, h, width, height))
        elif "wrapped-height" in c and int(c["wrapped-height"]) > height:
            faults.append("%s: its text wraps to %s pixels in %d" % (name, c["wrapped-height"], height))
        for d in shown[i + 1:]:
            if overlap(c["rect"], d["rect"]):
                faults.append("%s lies over %s %r" % (name, d["id"], d["text"][:30]))
    return faults


def check_run_layout(env, lang, where, screen=SCREEN):
    faults = run_layout_faults(env, lang, screen)
    check(not faults, "%s: %s" % (where, "; ".join(faults)))


def scenario_check_screens(env):
    # The finished screen and the check in both languages at 150 % (and 100 % with
    # TACTRA_SCALING=full), for the artifacts;
    # in English the controls' rectangles are read back and must lie apart on the screen.
    notes = []
    # 100 % has the same layout code as every other scenario here; CI looks at 150 % only.
    scalings = ((96, 100), (144, 150)) if os.environ.get("TACTRA_SCALING") == "full" else ((144, 150),)
    try:
        for dpi, percent in scalings:
            set_scaling(env, dpi)
            for lang, name in ((0, "english"), (1, "chinese")):
                frame = Frame(env, 2)
                program = Kelvane(env, frame.port, (str(lang),))
                try:
                    finished_screen(env, frame, program)
                    shot = "check-%s-%d" % (name, percent)
                    screenshot(env, shot + "-finished.png")
                    check_run_layout(env, lang, "%s at %d %%, finished" % (name, percent))
                    click_at(SCREEN[0] // 2, poll_button_row(env))
                    for i, (x, y) in enumerate(CHECK_POINTS):
                        wait_check_point(env, i)
                        if i == 1:
                            screenshot(env, shot + "-point.png")
                            check_run_layout(env, lang, "%s at %d %%, checking" % (name, percent))
                        # The last touch far off: a three-digit distance, read back whole.
                        click_at(*(FAR_TOUCH if i == 4 else (x + i, y)))
                    lower = (0, SCREEN[1] // 2, SCREEN[0], SCREEN[1] // 4)
                    check(wait_colour(env, BUTTON_FILL, lower, 10), "no Done and Calibrate again")
                    screenshot(env, shot + "-complete.png")
                    check_run_layout(env, lang, "%s at %d %%, complete" % (name, percent))
                    if lang == 0:
                        labels = [IDC_CHECK_DISTANCE_0 + i for i in range(5)]
                        shown = [run_controls(env)[c][1] for c in labels]
                        want = ["%d.0 pixels" % i for i in range(4)] + ["761.9 pixels"]
                        check(shown == want, "distances %s, not %s" % (shown, want))
                    program.key("Return")
                    check(program.wait_exit(20), "the program did not end after Done")
                    program.check_end("kept")
                finally:
                    program.kill()
                    frame.stop()
            notes.append("%d %%" % percent)
    finally:
        set_scaling(env, 96)
    return "both languages at %s apart and on the screen" % " and ".join(notes)


def poll_button_row(env):
    """The middle row of the Check button: the lowest row of button fill in the screen's middle
    column."""
    png = screenshot(env, "check-button.png")
    top = SCREEN[1] // 2
    column = subprocess.run(["convert", png, "-crop", "1x%d+%d+%d" % (SCREEN[1] - top, SCREEN[0] // 2, top), "txt:-"],
                            capture_output=True, text=True).stdout
    fill = "#%02X%02X%02X" % BUTTON_FILL
    rows = [top + int(line.split(",")[1].split(":")[0]) for line in column.splitlines()[1:] if fill in line.upper()]
    check(rows, "no Check button under OK and Cancel")
    return (min(rows) + max(rows)) // 2


# Over the virtual frame: the runs that show the frame's traffic and plug-and-play end to end;
# the frame's own faults and the program's local failures do not depend on the transport.
SCENARIOS = [
    ("mode 4, English, OK", scenario_mode4_ok, BOTH),
    ("mode 3, Chinese, Escape", scenario_mode3_chinese_cancel, BOTH),
    ("mode 2, English, OK", scenario_mode2_ok, BOTH),
    ("no touch: time-out", scenario_no_touch, SIM),
    ("no frame", scenario_no_frame, BOTH),
    ("unplugged during the run", scenario_unplug, BOTH),
    ("unplugged as the run starts", scenario_unplug_at_start, BOTH),
    ("mode 2, corners on a line", scenario_degenerate_fit, SIM),
    ("CMD_CAL_BEGIN refused", scenario_begin_refused, SIM),
    ("mouse setting unreadable", scenario_mouse_setting_unreadable, SIM),
    ("language module missing", scenario_module_missing, SIM),
    ("mode never answered", scenario_mode_unanswered, SIM),
    ("mode answered after the first target", scenario_mode_answered_late, SIM),
    ("check, calibrate again, done", scenario_check_then_again, SIM),
    ("check in Chinese, Escape", scenario_check_escape, SIM),
    ("check at 150 % (and 100 %)", scenario_check_screens, SIM),
    ("check point untouched: time-out", scenario_check_untouched, SIM),
]


def prepare(env):
    if not os.access(os.path.join(env.native_bin, "tactra-e2e-expected"), os.X_OK):
        print("missing tactra-e2e-expected: build the native tree first (scripts/build native)")
        return False
    # Language comes from the command line or the registry; start each run from English.
    env.reg_add_dword(r"HKLM\Software\Tactra\GlobalSettings", "Language", 0)
    env.settle()
    return True


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

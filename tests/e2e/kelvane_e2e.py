#!/usr/bin/env python3
"""Kelvane.exe end to end under Wine and Xvfb against the native simulated frame (harness.py).

Screenshots of the runs go to the artifacts folder.
"""

import os
import subprocess
import sys
import time

from harness import (BOTH, CAL_CHANNEL, SCREEN, SIM, Failure, Frame, Program, check, colour_count, grid_points_payload,
                     compare_across_transports, dismiss_box, dismiss_owned_box, free_port, probe_box,
                     poll, program_alone, run_scenarios, screenshot, startup_overhead)

GET_MODE, BEGIN, WRITE_RESULT, END = 0x01, 0x03, 0x04, 0x05
CAL_REPORT_ID, CAL_REPORT_LENGTH = 6, 48
FIXED_PAUSES_MS = 3 * 200  # the link's start; the conversation runs with the first target on screen
OS_CLASS_UNDER_WINE = 6  # Wine reports Windows 7 or later
MODULE = "KelvaneLangEN.dll"
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
            raise Failure("no visible Kelvane window (%s)" % self.state())
        return wid

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

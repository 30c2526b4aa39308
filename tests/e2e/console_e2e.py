#!/usr/bin/env python3
"""TactraConsole.exe end to end under Wine and Xvfb against the native simulated frame (harness.py).

Each scenario checks what the frame received, what the controls show (window_probe.exe), the
registry and the messages (msgbox_probe.exe). Screenshots of every tab in both languages go to
the artifacts folder.
"""

import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

from console_ids import (CONSOLE_MODULE_EN, CONSOLE_MODULE_ZH, IDC_CAL_APPLY, IDC_CAL_EXPORT, IDC_CAL_FACTORY,
                         IDC_CAL_IMPORT, IDC_CAL_MODE_2, IDC_CAL_MODE_3, IDC_CAL_MODE_4, IDC_CAL_OPTION_0,
                         IDC_CAL_OPTION_1, IDC_CAL_OPTION_2, IDC_CAL_OPTION_3, IDC_CAL_START, IDC_CFG_11, IDC_CFG_12A,
                         IDC_CFG_12B, IDC_CFG_12C, IDC_CFG_14_LEVEL, IDC_CFG_14_ON, IDC_CFG_14_TIME, IDC_CFG_15_LEVEL,
                         IDC_CFG_15_ON, IDC_CFG_15_TIME, IDC_CFG_16_ON, IDC_CFG_16_SPIN, IDC_CFG_16_TEXT, IDC_CFG_17A,
                         IDC_CFG_17B, IDC_CFG_21_A, IDC_CFG_21_B, IDC_CFG_21_ON, IDC_CFG_APPLY, IDC_CFG_DEFAULT,
                         IDC_INFO_COUNT_A, IDC_INFO_COUNT_B, IDC_INFO_LIST_A, IDC_INFO_LIST_B, IDC_INFO_TEXT_F2,
                         IDC_INFO_TEXT_F3, IDC_INFO_TEXT_F4, IDC_INFO_TEXT_F5, IDC_INFO_VALUE_01, IDC_OPT_APPLY,
                         IDC_OPT_CHINESE, IDC_OPT_ENGLISH, IDC_OPT_LOGON, IDC_OPT_MINIMIZE, IDC_STATUS, IDC_TABS,
                         IDR_MAINFRAME, IDS_ALREADY_STARTED, IDS_CAPTION, IDS_FILE_NOT_FOUND, IDS_NO_FRAME, IDS_REFUSED)
from harness import (BOTH, CAL_CHANNEL, SCREEN, SETTINGS_CHANNEL, Failure, Frame, Program, check, compare_across_transports,
                     dismiss_box, free_port, grid_points_payload, poll, probe_box, program_alone, run_scenarios,
                     run_windows, screenshot, startup_overhead, tools_present, wait_until, windows_path)

TITLE = "TactraConsole"
GLOBAL = r"HKLM\Software\Tactra\GlobalSettings"
STARTUP = r"HKLM\Software\Tactra\StartupSettings"
RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
WM_TRAYICON, WM_LBUTTONDBLCLK, WM_RBUTTONUP = 0x464, 0x203, 0x205
WM_SYSCOMMAND, SC_MINIMIZE = 0x112, 0xF020
WM_COMMAND, IDCANCEL, IDYES = 0x111, 2, 6
INFO_REQUESTS = [0xF2, 0xF3, 0xF4, 0xF5, 0x01, 0x02]
FIXED_PAUSES_MS = 3 * 300 + 6 * 20  # the link's start, then the information page's paced requests

# The simulated frame's information, as the information page shows it.
FRAME_INFO = {IDC_INFO_VALUE_01: "23", IDC_INFO_COUNT_A: "3", IDC_INFO_LIST_A: "1+2+3", IDC_INFO_COUNT_B: "4",
              IDC_INFO_LIST_B: "10+20+30+40", IDC_INFO_TEXT_F2: "V2.16.03", IDC_INFO_TEXT_F3: "20260311",
              IDC_INFO_TEXT_F4: "IR6C-T32", IDC_INFO_TEXT_F5: "Tactra infrared multi-touch frame, simulated"}
# The calibration page.
CAL = "calibration"
OPTION_BUTTONS = (IDC_CAL_OPTION_0, IDC_CAL_OPTION_1, IDC_CAL_OPTION_2, IDC_CAL_OPTION_3)
MODE_BUTTONS = {2: IDC_CAL_MODE_2, 3: IDC_CAL_MODE_3, 4: IDC_CAL_MODE_4}
CAL_ACTIONS = (IDC_CAL_APPLY, IDC_CAL_FACTORY, IDC_CAL_START, IDC_CAL_EXPORT, IDC_CAL_IMPORT)
FILE_NAME_BOX, DIALOG_OK, DIALOG_CANCEL = 1148, 1, 2  # in the system's Save and Open dialogs
SAVE_TITLE, OPEN_TITLE = "Save As", "Open"
REPLACE_TITLE = "Error"  # the system's question whether to replace a file, as Wine titles it
SAVE_FAILED, IMPORT_FAILED = "Failed to save results!", "Failed to import!"
PLACEHOLDERS = {IDC_INFO_VALUE_01: "0", IDC_INFO_COUNT_A: "0", IDC_INFO_LIST_A: "0", IDC_INFO_COUNT_B: "0",
                IDC_INFO_LIST_B: "0", IDC_INFO_TEXT_F2: "N/A", IDC_INFO_TEXT_F3: "N/A", IDC_INFO_TEXT_F4: "N/A",
                IDC_INFO_TEXT_F5: "N/A"}

# The configuration page: its reads in order, the controls a scenario looks at, and what it
# shows of the simulated frame's factory settings and when greyed: (selected item or position,
# enabled); -1 for the buttons.
CONFIG_READS = [0x11, 0x12, 0x16, 0x17, 0x21, 0x15, 0x14]
CONFIG_IDS = [IDC_CFG_11, IDC_CFG_12A, IDC_CFG_12B, IDC_CFG_12C, IDC_CFG_16_ON, IDC_CFG_16_SPIN, IDC_CFG_17A,
              IDC_CFG_17B, IDC_CFG_21_ON, IDC_CFG_21_A, IDC_CFG_21_B, IDC_CFG_15_ON, IDC_CFG_15_TIME, IDC_CFG_15_LEVEL,
              IDC_CFG_14_ON, IDC_CFG_14_TIME, IDC_CFG_14_LEVEL, IDC_CFG_DEFAULT, IDC_CFG_APPLY]
FACTORY_SHOWN = dict(zip(CONFIG_IDS, [(1, 1), (0, 1), (1, 1), (0, 1), (0, 1), (10, 1), (3, 1), (3, 1), (0, 1),
                                      (4, 1), (3, 1), (1, 1), (5, 0), (4, 0), (0, 1), (2, 1), (4, 1), (-1, 1),
                                      (-1, 1)]))
GREYED_SHOWN = dict(zip(CONFIG_IDS, [(1, 0), (1, 0), (1, 0), (1, 0), (0, 0), (5, 0), (1, 0), (1, 0), (0, 0),
                                     (4, 0), (3, 0), (0, 0), (5, 0), (4, 0), (0, 0), (4, 0), (4, 0), (-1, 1),
                                     (-1, 0)]))
# The factory settings written back as the page read them (setting 15 is off: the page's own
# level and time go with it).
FACTORY_WRITES = [(0x11, [2]), (0x12, [1, 0, 1]), (0x16, [1, 10]), (0x17, [3, 3, 5, 5]),
                  (0x21, [1, 0, 30, 0x01, 0xF4]), (0x15, [0, 5, 0x0B, 0xB8]), (0x14, [1, 5, 0x01, 0x2C])]
WINE_KEY = r"HKCU\Software\Wine"


class Console(Program):
    STARTUP_LOG_VARIABLE = "TACTRA_CONSOLE_STARTUP_LOG"

    def __init__(self, env, port, args=(), startup_log=None, cwd=None, exe="TactraConsole.exe"):
        super().__init__(env, exe, port, args, cwd=cwd, startup_log=startup_log)
        self.handle = None

    def probe(self, *argv, window=None):
        # Once known, the window by its handle: a message box that is closing has the same title.
        window = window or ("#" + self.handle if self.handle else TITLE)
        return run_windows(self.env, ["window_probe.exe", window, *argv])

    def show(self):
        """(window fields, {(page, id): control fields}) of the console as it is now."""
        code, out = self.probe("show")
        if code != 0:
            raise Failure("no console window (%s)" % self.state())
        window, controls = {}, {}
        for line in out.splitlines():
            kind, _, rest = line.partition(" ")
            fields = {}
            text = None
            if " text=" in rest or rest.startswith("text="):
                rest, _, text = rest.partition("text=")
            for part in rest.split():
                k, _, v = part.partition("=")
                fields[k] = v
            if text is not None:
                fields["text"] = text
            if kind == "window":
                window = fields
            elif kind == "control":
                controls[(fields["page"], int(fields["id"]))] = fields
        return window, controls

    def wait_ready(self, timeout=30):
        """Waits until the window exists and the information page has been shown."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            code, out = self.probe("show")
            if code == 0 and "id=%d" % IDC_INFO_TEXT_F5 in out:
                self.handle = out.split("handle=")[1].split()[0]
                return True
            if self.proc.poll() is not None:
                return False
            time.sleep(0.3)
        return False

    def status(self):
        return self.show()[1][("main", IDC_STATUS)]["text"]

    def texts(self, page, ids):
        controls = self.show()[1]
        return {i: controls[(page, i)]["text"] for i in ids}

    def visible(self):
        code, out = self.probe("show")
        return code == 0 and " visible=1" in out.splitlines()[0]

    def tray(self, window=None):
        code, out = self.probe("tray", window=window or "#" + self.handle)
        return code == 0 and "tray=1" in out


def reset_registry(env, language=None):
    env.reg("delete", r"HKLM\Software\Tactra", "/f")
    env.reg("delete", RUN, "/v", "TactraConsole", "/f")
    if language is not None:
        env.reg_add_dword(GLOBAL, "Language", language)
    env.settle()


def check_info_requests(frame, refreshes=1):
    sent = frame.received(SETTINGS_CHANNEL)
    expected = []
    for _ in range(refreshes):
        for code in INFO_REQUESTS:
            expected.append(bytes([7, code, 1, 1, 0xFF]) + bytes(59))
    check(sent == expected, "the frame received %s" % [b[:5].hex() for b in sent])


def report(channel, head):
    """A whole report as the console writes it: ID, code, N, payload, the terminator, zeros."""
    length = 48 if channel == CAL_CHANNEL else 64
    return (channel, bytes(head) + b"\xff" + bytes(length - len(head) - 1))


def calibration_page(console):
    """(checked option buttons, checked mode buttons, enabled state of every control) of the page."""
    controls = console.show()[1]
    options = [i for i, cid in enumerate(OPTION_BUTTONS) if controls[(CAL, cid)]["check"] == "1"]
    modes = [m for m, cid in MODE_BUTTONS.items() if controls[(CAL, cid)]["check"] == "1"]
    ids = OPTION_BUTTONS + tuple(MODE_BUTTONS.values()) + CAL_ACTIONS
    enabled = {cid: controls[(CAL, cid)]["enabled"] == "1" for cid in ids}
    return options, modes, enabled


def open_calibration_page(console, frame):
    before = frame.mark()
    console.probe("tab", "2")
    wait_until(lambda: len(frame.since(before)) >= 2, 10, "the calibration page read nothing")
    time.sleep(0.5)
    return frame.since(before)


def owned_text_box(env):
    """Closes the next message box, which must be owned and carry the program's name; its text."""
    out = probe_box(env, None, 15000)
    fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    check(fields.get("caption") == TITLE and fields.get("owner") != "none", "the box: %s" % out)
    return fields.get("text")


def answer_file_dialog(console, title, path, replace=False):
    """Answers the console's Save or Open dialog with a file (its Windows name), or Cancel; and
    with Yes the question whether to replace the file. When the button was pressed."""
    wait_until(lambda: console.probe("show", window=title)[0] == 0, 20, "no %s dialog" % title)
    if path is None:
        console.probe("click", "main", str(DIALOG_CANCEL), window=title)
    else:
        console.probe("settext", "main", str(FILE_NAME_BOX), windows_path(path), window=title)
        console.probe("click", "main", str(DIALOG_OK), window=title)
    pressed = time.time()
    if replace:
        wait_until(lambda: console.probe("show", window=REPLACE_TITLE)[0] == 0, 20, "not asked to replace")
        console.probe("post", str(WM_COMMAND), str(IDYES), "0", window=REPLACE_TITLE)
    wait_until(lambda: console.probe("show", window=title)[0] != 0, 20, "the %s dialog stayed open" % title)
    return pressed


def calibration_file(record):
    """The calibration file of a 41-byte record, as the console must write it."""
    head = bytes([(0x30 + record[0]) & 0xFF]) + b"\r\n" + bytes([(0x30 + record[1]) & 0xFF]) + b"\r\n"
    head += b"".join(b"1" if f else b"0" for f in record[2:5]) + b"\r\n"
    lines = b""
    for k in range(9):
        for at in (5 + 4 * k, 7 + 4 * k):
            lines += str(int.from_bytes(record[at:at + 2], "little", signed=True)).encode().ljust(6, b"\0")
        lines += b"\r\n"
    return head + lines


def calibration_command_count(frame, code):
    return sum(1 for c, _ in frame.calibration_commands() if c == code)


def calibration_commands_seen(frame, code, count, timeout):
    """Whether the frame has received `count` calibration commands `code` within the time."""
    return poll(lambda: calibration_command_count(frame, code) >= count, timeout)


class Started(Program):
    """A program another one started: found by its windows and its process, never run from here."""

    def __init__(self, exe, port):
        self.classname = exe.lower()
        self.port = port

    def pids(self):
        """The processes of the program that talk to the frame on this port."""
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read()
            except OSError:
                continue
            if self.classname.encode() in cmdline.lower() and \
                    ("TACTRA_FRAME_SIM=127.0.0.1:%d\0" % self.port).encode() in environ:
                found.append(pid)
        return found

    def command_line(self, pid):
        with open("/proc/%s/cmdline" % pid, "rb") as f:
            return f.read().rstrip(b"\0").decode(errors="replace").split("\0")


def settings_report(code, payload):
    """A settings-channel request as the frame receives it: 64 bytes, 0xFF after the payload."""
    return bytes([7, code, len(payload)]) + bytes(payload) + b"\xff" + bytes(60 - len(payload))


def config_writes(writes):
    return [settings_report(code, [2] + values) for code, values in writes]


@contextlib.contextmanager
def wine_version(env, version):
    """The Windows version Wine reports to programs started meanwhile; the earlier one afterwards."""
    before = env.reg_value(WINE_KEY, "Version")
    env.reg("add", WINE_KEY, "/v", "Version", "/d", version, "/f")
    try:
        yield
    finally:
        if before is None:
            env.reg("delete", WINE_KEY, "/v", "Version", "/f")
        else:
            env.reg("add", WINE_KEY, "/v", "Version", "/d", before, "/f")


def open_tab(console, frame, tab, reads, settle=0.6):
    """Selects a tab and waits for its reads; the reports the frame received meanwhile."""
    before = len(frame.received(SETTINGS_CHANNEL))
    console.probe("tab", str(tab))
    wait_until(lambda: len(frame.received(SETTINGS_CHANNEL)) >= before + reads, 15, "tab %d did not read" % tab)
    time.sleep(settle)
    return frame.received(SETTINGS_CHANNEL)[before:]


def reopen_config(console, frame, reads=7, settle=0.6):
    """The information page, then the configuration page again: it reads anew."""
    open_tab(console, frame, 0, len(INFO_REQUESTS))
    return open_tab(console, frame, 1, reads, settle)


def config_shown(console):
    """What the configuration page shows: {id: (item or position, enabled)}, the edit box's text and
    whether it is enabled."""
    controls = console.show()[1]
    shown = {}
    for i in CONFIG_IDS:
        c = controls[("config", i)]
        shown[i] = (int(c.get("selected", c.get("position", -1))), int(c["enabled"]))
    edit = controls[("config", IDC_CFG_16_TEXT)]
    return shown, edit["text"], edit["enabled"] == "1"


def check_config_shown(console, expected, text, edit_enabled, what):
    shown, edit, enabled = config_shown(console)
    wrong = {i: (shown[i], expected[i]) for i in expected if shown[i] != expected[i]}
    check(not wrong, "%s: (shown, expected) %s" % (what, wrong))
    check((edit, enabled) == (text, edit_enabled), "%s: edit box %r enabled %s" % (what, edit, enabled))


def is_chinese(text):
    """Whether the text holds a character of the CJK blocks."""
    return any(ord(ch) > 0x2E80 for ch in text)


def check_no_box(env, wait_ms=1000):
    check(run_windows(env, ["msgbox_probe.exe", str(wait_ms)])[0] == 1, "a message box too many")


def apply_config(console, frame, writes):
    before = len(frame.received(SETTINGS_CHANNEL))
    console.probe("click", "config", str(IDC_CFG_APPLY))
    wait_until(lambda: len(frame.received(SETTINGS_CHANNEL)) >= before + writes, 15, "Apply did not write")
    time.sleep(0.5)
    return frame.received(SETTINGS_CHANNEL)[before:]


def close_with_escape(console):
    console.key_to(console.wait_window(lambda w, h, t: t == TITLE, 10), "Escape")
    asked = time.time()
    check(console.wait_exit(15), "Escape did not end the console")
    # Its link's end has no pause: a second is plenty, seconds mean something waited in vain.
    taken = time.time() - asked
    check(taken < 1.5, "the console took %.1f s to end after Escape" % taken)


@contextlib.contextmanager
def console_up(env, mode=3, touch="auto", **console_args):
    """The registry reset to English, a frame in `mode` and the console against it, up: (frame,
    console). Both end afterwards; a scenario that gets through ends the console itself."""
    reset_registry(env, 0)
    frame = Frame(env, mode, touch=touch)
    console = Console(env, frame.port, **console_args)
    try:
        check(console.wait_ready(), "the console did not come up")
        yield frame, console
    finally:
        console.kill()
        frame.stop()


# Scenarios ------------------------------------------------------------------------------------

def scenario_first_start(env):
    reset_registry(env)
    frame = Frame(env, 3)
    log = os.path.join(env.artifacts, "console-startup.log")
    console = Console(env, frame.port, startup_log=log)
    try:
        check(console.wait_ready(), "the console did not come up")
        check(env.reg_value(GLOBAL, "Language") == "0x2", "Language %s" % env.reg_value(GLOBAL, "Language"))
        check(env.reg_value(STARTUP, "LoadProgramOnStartup") == "0x0", "LoadProgramOnStartup not created as 0")
        check(env.reg_value(STARTUP, "MinimizeWindowOnLoaded") == "0x0", "MinimizeWindowOnLoaded not created as 0")
        check_info_requests(frame)
        same = compare_across_transports(env, "console-first-start", frame.received(SETTINGS_CHANNEL),
                                         os.path.join(env.bin, "TactraConsole.exe"))
        shown = console.texts("info", FRAME_INFO.keys())
        check(shown == FRAME_INFO, "information page shows %s" % shown)
        window, controls = console.show()
        check(window["visible"] == "1", "the window is not on screen")
        check(controls[("main", IDC_TABS)]["selected"] == "0", "tab %s" % controls[("main", IDC_TABS)]["selected"])
        check(console.tray(), "no icon in the notification area")
        screenshot(env, "console-en-tab0.png")
        for tab in range(1, 5):
            console.probe("tab", str(tab))
            time.sleep(1.0)
            screenshot(env, "console-en-tab%d.png" % tab)
        handle = console.handle
        close_with_escape(console)
        check(not console.tray("#" + handle), "the icon stayed after the console ended")
        return "connected, 6 requests, frame's values; startup beyond fixed pauses: %s ms%s" % (
            startup_overhead(log, "information-shown", FIXED_PAUSES_MS), same and "; " + same)
    finally:
        console.kill()
        frame.stop()


def scenario_no_frame(env):
    reset_registry(env, 0)
    console = Console(env, free_port())
    try:
        # The information page says so once at start; meanwhile no other page may be opened.
        check(console.wait_window(lambda w, h, t: t == TITLE, 20), "no console window")
        time.sleep(1.0)
        console.probe("tab", "3")
        time.sleep(0.5)
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_NO_FRAME, IDS_CAPTION), "message %s" % (box,))
        check(console.wait_ready(), "the console did not come up")
        window, controls = console.show()
        check(controls[("main", IDC_TABS)]["selected"] == "0",
              "a tab changed while a message box of a sequence was open")
        check(console.texts("info", PLACEHOLDERS.keys()) == PLACEHOLDERS, "placeholders not shown")
        status = console.status()
        # Tab 0 again (as the user selects it): the message every time. The options page in
        # between asks the frame nothing.
        console.probe("tab", "3")
        time.sleep(0.5)
        console.probe("tab", "0")
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_NO_FRAME, IDS_CAPTION), "message on the second visit %s" % (box,))
        close_with_escape(console)
        return "1083 at start and on each visit, placeholders, status '%s'" % status
    finally:
        console.kill()


def scenario_plug_unplug(env):
    with console_up(env) as (frame, console):
        connected = console.status()
        before = len(frame.received(SETTINGS_CHANNEL))
        frame.ctl("unplug")
        wait_until(lambda: console.status() != connected, 10, "the status did not change on removal")
        disconnected = console.status()
        frame.ctl("plug")
        wait_until(lambda: console.status() == connected, 10, "the status did not come back on arrival")
        check(len(frame.received(SETTINGS_CHANNEL)) == before, "a page was refreshed by a notice")
        # Back at other paths (another port): found again.
        frame.ctl("unplug", "--new-paths")
        wait_until(lambda: console.status() == disconnected, 10, "no removal at the old paths")
        frame.ctl("plug")
        wait_until(lambda: console.status() == connected, 10, "the frame at new paths was not found")
        console.probe("tab", "3")
        console.probe("tab", "0")
        time.sleep(2)
        check(len(frame.received(SETTINGS_CHANNEL)) == before + 6, "the frame at new paths does not answer")
        close_with_escape(console)
        return "'%s' / '%s', also at new paths" % (connected, disconnected)


def scenario_staggered_arrival(env):
    # A frame plugged into a new port: its six collections come one by one, a second apart. The
    # console says connected only once it can talk to the frame, and then it can, without a
    # re-plug: the calibration page reads option and mode and shows them.
    with console_up(env) as (frame, console):
        connected = console.status()
        frame.ctl("unplug", "--new-paths")
        wait_until(lambda: console.status() != connected, 10, "the status did not change on removal")
        frame.ctl("plug", "--staggered", "1000")
        wait_until(lambda: console.status() == connected, 20, "never connected")
        seen = frame.dump().get("present")
        before = frame.mark()
        console.probe("tab", "2")
        wait_until(lambda: len(frame.since(before)) >= 2, 10, "the calibration page read nothing")
        time.sleep(0.5)
        options, modes, enabled = calibration_page(console)
        check(modes == [3] and all(enabled.values()), "the page shows %s %s" % (modes, enabled))
        close_with_escape(console)
    return "connected once bound (%s collections present then), the page answered" % (seen or "?")


def scenario_stalled_channel(env):
    # The frame stops taking reports on its settings channel: the calibration page's option read
    # costs its wait, the mode is still read on the other channel; once the frame takes reports
    # again the next refresh goes out and is answered, without a re-plug.
    with console_up(env) as (frame, console):
        frame.ctl("fault", "ch5", "stall")
        before = frame.mark()
        console.probe("tab", "2")
        # The option read is lost to the stall; the mode request follows once its wait is over.
        wait_until(lambda: len(frame.since(before)) >= 1, 10, "the calibration page read nothing")
        time.sleep(0.5)
        options, modes, enabled = calibration_page(console)
        check(modes == [3] and not enabled[OPTION_BUTTONS[0]], "stalled: %s %s" % (modes, enabled))
        frame.ctl("fault", "ch5", "none")
        time.sleep(3.0)  # a write the system still holds ends by then
        console.probe("tab", "0")
        time.sleep(0.5)
        before = frame.mark()
        console.probe("tab", "2")
        wait_until(lambda: any(b[:2] == bytes([7, 0x13]) for b in frame.received(SETTINGS_CHANNEL)), 15,
                   "the option read never reached the frame")
        time.sleep(0.8)
        options, modes, enabled = calibration_page(console)
        check(all(enabled.values()), "after the stall: %s %s" % (options, enabled))
        check(len(frame.since(before)) >= 2, "the refresh did not go out")
        close_with_escape(console)
    return "the stalled read cost its wait; answered again after the stall"


def scenario_options_and_next_start(env):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
        console.probe("tab", "3")
        time.sleep(0.5)
        c = console.show()[1]
        check((c[("options", IDC_OPT_ENGLISH)]["check"], c[("options", IDC_OPT_CHINESE)]["check"]) == ("1", "0"),
              "language boxes")
        for box in (IDC_OPT_CHINESE, IDC_OPT_LOGON, IDC_OPT_MINIMIZE):
            console.probe("click", "options", str(box))
        time.sleep(0.5)
        c = console.show()[1]
        boxes = (IDC_OPT_ENGLISH, IDC_OPT_CHINESE, IDC_OPT_LOGON, IDC_OPT_MINIMIZE)
        check([c[("options", i)]["check"] for i in boxes] == ["0", "1", "1", "1"], "boxes after the clicks")
        console.probe("click", "options", str(IDC_OPT_APPLY))
        time.sleep(1.5)
        check(env.reg_value(GLOBAL, "Language") == "0x1", "Language not written")
        check(env.reg_value(STARTUP, "LoadProgramOnStartup") == "0x1", "LoadProgramOnStartup not written")
        check(env.reg_value(STARTUP, "MinimizeWindowOnLoaded") == "0x1", "MinimizeWindowOnLoaded not written")
        run = env.reg_value(RUN, "TactraConsole")
        check(run is not None and run.startswith('"') and run.endswith('TactraConsole.exe"'), "Run entry %r" % run)
        close_with_escape(console)

        # The next start: Chinese, hidden after start with only the icon to show it again.
        console = Console(env, frame.port)
        check(console.wait_ready(), "the console did not come up again")
        wait_until(lambda: not console.visible(), 10, "the console did not hide after start")
        check(console.tray(), "no icon while hidden")
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME), str(WM_LBUTTONDBLCLK))
        wait_until(console.visible, 10, "a double click on the icon did not show the window")
        status = console.status()
        check(is_chinese(status), "the status line %r is not Chinese" % status)
        screenshot(env, "console-zh-tab0.png")
        for tab in range(1, 5):
            console.probe("tab", str(tab))
            time.sleep(1.0)
            screenshot(env, "console-zh-tab%d.png" % tab)

        # Start at logon off again: the entry goes, and a second Apply says nothing.
        console.probe("click", "options", str(IDC_OPT_LOGON))
        console.probe("click", "options", str(IDC_OPT_MINIMIZE))
        console.probe("click", "options", str(IDC_OPT_APPLY))
        time.sleep(1.0)
        check(env.reg_value(RUN, "TactraConsole") is None, "the Run entry stayed")
        console.probe("click", "options", str(IDC_OPT_APPLY))
        time.sleep(1.0)
        check(run_windows(env, ["msgbox_probe.exe", "500"])[0] == 1, "a message after removing an absent entry")
        close_with_escape(console)
        return "Chinese, hidden after start, Run entry quoted and removed"
    finally:
        console.kill()
        frame.stop()
        reset_registry(env, 0)


def scenario_tray(env):
    with console_up(env) as (frame, console):
        # The shell says its notification area restarted: the icon is there after it.
        console.probe("taskbar-created")
        time.sleep(0.5)
        check(console.tray(), "no icon after the shell's restart message")
        console.probe("post", str(WM_SYSCOMMAND), str(SC_MINIMIZE), "0")
        wait_until(lambda: not console.visible(), 10, "minimising did not hide the window")
        check(console.tray(), "no icon while minimised")
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME + 1), str(WM_LBUTTONDBLCLK))
        time.sleep(1.0)
        check(not console.visible(), "a callback of another icon id showed the window")
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME), str(WM_LBUTTONDBLCLK))
        wait_until(console.visible, 10, "a double click on the icon did not show the window")
        # The icon's menu: its one item ends the console.
        handle = console.handle
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME), str(WM_RBUTTONUP))
        time.sleep(1.5)
        subprocess.run(["xdotool", "key", "x"], check=False)
        check(console.wait_exit(15), "the icon's menu item did not end the console")
        check(not console.tray("#" + handle), "the icon stayed after the console ended")
        return "minimise hides, icon 128 shows, the menu ends the console"


def scenario_chinese_by_argument(env):
    with console_up(env, args=("1",)) as (frame, console):
        status = console.status()
        check(is_chinese(status), "the status line %r is not Chinese" % status)
        check(env.reg_value(GLOBAL, "Language") == "0x0", "the registry was changed")
        close_with_escape(console)
        return "Chinese status '%s', registry untouched" % status


def scenario_module_missing(env):
    with program_alone(env, "TactraConsole.exe", CONSOLE_MODULE_EN) as (exe, planted):
        console = Console(env, free_port(), ("0",), cwd=planted, exe=exe)
        try:
            out = probe_box(env, None, 15000)
            check("caption=Error" in out, "caption: %s" % out)
            check("text=Cannot find language file: TactraConsoleLangEN.dll!" in out, "text: %s" % out)
            check(console.wait_exit(15), "the console did not end")
            check(console.probe("show")[0] == 1, "a console window appeared")
            return "fixed English message naming the module, no window"
        finally:
            console.kill()


@contextlib.contextmanager
def calibration_page_open(env, mode, touch="auto", **console_args):
    """A frame in `mode`, the console against it with its calibration page open; (frame, console,
    what the page read). Ends the console with Escape when the scenario got through."""
    with console_up(env, mode, touch, **console_args) as (frame, console):
        kelvane = Started("Kelvane.exe", frame.port)
        try:
            yield frame, console, open_calibration_page(console, frame)
            close_with_escape(console)
        finally:
            for pid in kelvane.pids():
                os.kill(int(pid), 9)


def shoot_options(env, console, language):
    """Chooses each option in turn: its button alone is checked and its illustration drawn."""
    for value, button in enumerate(OPTION_BUTTONS):
        console.probe("click", CAL, str(button))
        time.sleep(0.8)
        check(calibration_page(console)[0] == [value], "option %d not chosen" % value)
        screenshot(env, "console-%s-calibration-option%d.png" % (language, value))


def scenario_calibration_option_and_mode(env):
    with calibration_page_open(env, 4) as (frame, console, read):
        check(read == [report(SETTINGS_CHANNEL, [7, 0x13, 1, 1]), report(CAL_CHANNEL, [6, 0x01, 0])],
              "the page read %s" % [(c, r[:5].hex()) for c, r in read])
        option = frame.dump()["option13"]
        options, modes, enabled = calibration_page(console)
        check((options, modes) == ([option], [4]), "the page shows option %s, mode %s" % (options, modes))
        check(all(enabled.values()), "greyed out: %s" % [i for i, e in enabled.items() if not e])

        # Each option shows its illustration at once and tells the frame nothing.
        count = frame.mark()
        shoot_options(env, console, "en")
        check(frame.mark() == count, "a click reached the frame")

        # Apply: the option write, then the mode, and the frame keeps both.
        console.probe("click", CAL, str(OPTION_BUTTONS[2]))
        console.probe("click", CAL, str(MODE_BUTTONS[3]))
        time.sleep(0.5)
        console.probe("click", CAL, str(IDC_CAL_APPLY))
        wait_until(lambda: len(frame.since(count)) >= 2, 10, "Apply sent nothing")
        time.sleep(0.5)
        sent = frame.since(count)
        check(sent == [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 2]), report(CAL_CHANNEL, [6, 0x02, 1, 3])],
              "Apply sent %s" % [(c, r[:6].hex()) for c, r in sent])
        dump = frame.dump()
        check((dump["option13"], dump["mode"]) == (2, 3), "the frame keeps %s, %s" % (dump["option13"], dump["mode"]))
        check_no_box(env, 1500)
        console.probe("tab", "0")
        time.sleep(1.0)
        open_calibration_page(console, frame)
        check(calibration_page(console)[:2] == ([2], [3]), "read again: %s" % (calibration_page(console)[:2],))
    return "option %d and mode 4 shown, Apply wrote option 2 and mode 3 in order" % option


def scenario_calibration_mode_refused(env):
    with calibration_page_open(env, 4) as (frame, console, _):
        frame.ctl("fault", "6:0x02", "refuse")
        count = frame.mark()
        console.probe("click", CAL, str(MODE_BUTTONS[2]))
        time.sleep(0.5)
        check(calibration_page(console)[1] == [2], "mode 2 not chosen")
        console.probe("click", CAL, str(IDC_CAL_APPLY))
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_REFUSED, IDS_CAPTION), "message %s" % (box,))
        check_no_box(env, 1500)
        check(calibration_page(console)[1] == [4], "the mode buttons did not go back to the frame's mode")
        sent = frame.since(count)
        check(sent[-1] == report(CAL_CHANNEL, [6, 0x02, 1, 2]), "the mode sent: %s" % sent[-1][1][:5].hex())
        check(frame.dump()["mode"] == 4, "the frame changed its mode")
    return "1085 once, buttons back at mode 4"


# A calibration file written by hand: head values 4 and 2, flags 1, 0, 1, then the nine points,
# among them the six-character values that fill their field.
HAND_POINTS = [(127, -32768), (3968, -10000), (2048, 0), (-1, 32767), (-9999, 10000), (5, 50),
               (500, 5000), (-12345, 4095), (1, 2)]
HAND_FILE = (b"4\r\n" b"2\r\n" b"101\r\n"
             b"127\0\0\0" b"-32768" b"\r\n"
             b"3968\0\0" b"-10000" b"\r\n"
             b"2048\0\0" b"0\0\0\0\0\0" b"\r\n"
             b"-1\0\0\0\0" b"32767\0" b"\r\n"
             b"-9999\0" b"10000\0" b"\r\n"
             b"5\0\0\0\0\0" b"50\0\0\0\0" b"\r\n"
             b"500\0\0\0" b"5000\0\0" b"\r\n"
             b"-12345" b"4095\0\0" b"\r\n"
             b"1\0\0\0\0\0" b"2\0\0\0\0\0" b"\r\n")


def hand_record():
    record = bytes([4, 2, 1, 0, 1])
    for x, y in HAND_POINTS:
        record += x.to_bytes(2, "little", signed=True) + y.to_bytes(2, "little", signed=True)
    return record


def write_file(folder, name, content):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(content)
    return path


def scenario_calibration_import_and_factory(env):
    check(len(HAND_FILE) == 137, "the hand-written file has %d bytes" % len(HAND_FILE))
    with tempfile.TemporaryDirectory(prefix="calibration-files-") as folder, \
            calibration_page_open(env, 3) as (frame, console, _):
        good = write_file(folder, "hand.ini", HAND_FILE)
        edited = write_file(folder, "edited.ini", HAND_FILE.replace(b"\r\n", b"\n"))  # an editor's line ends
        factory = frame.dump()["record"]
        count = frame.mark()
        console.probe("click", CAL, str(IDC_CAL_IMPORT))
        answer_file_dialog(console, OPEN_TITLE, good)
        wait_until(lambda: frame.since(count), 10, "the import sent nothing")
        time.sleep(0.5)
        sent = frame.since(count)
        check(sent == [report(CAL_CHANNEL, [6, 0x06, 41] + list(hand_record()))],
              "the import sent %s" % [r.hex() for _, r in sent])
        check(frame.dump()["record"] == hand_record().hex(), "the frame keeps %s" % frame.dump()["record"])
        check_no_box(env, 1500)

        # A file an editor changed, and Cancel: nothing reaches the frame.
        count = frame.mark()
        console.probe("click", CAL, str(IDC_CAL_IMPORT))
        answer_file_dialog(console, OPEN_TITLE, edited)
        check(owned_text_box(env) == IMPORT_FAILED, "no word that the file was refused")
        console.probe("click", CAL, str(IDC_CAL_IMPORT))
        answer_file_dialog(console, OPEN_TITLE, None)
        check_no_box(env, 1500)
        check(frame.since(count) == [], "a refused file or Cancel reached the frame")

        # The factory calibration: the action, then the page is read again.
        console.probe("click", CAL, str(IDC_CAL_FACTORY))
        wait_until(lambda: len(frame.since(count)) >= 3, 10, "the factory button sent too little")
        time.sleep(0.5)
        sent = frame.since(count)
        check(sent == [report(CAL_CHANNEL, [6, 0x09, 0]), report(SETTINGS_CHANNEL, [7, 0x13, 1, 1]),
                       report(CAL_CHANNEL, [6, 0x01, 0])], "the factory button sent %s" % [r[:5].hex() for _, r in sent])
        check(frame.dump()["record"] == factory, "the frame's record is not the factory one")
    return "hand-written record reached the frame whole; edited file and Cancel sent nothing; factory restored"


def scenario_calibration_export(env):
    with tempfile.TemporaryDirectory(prefix="calibration-export-") as folder, \
            calibration_page_open(env, 4) as (frame, console, _):
        # A record with six-character values, so that the export must fill whole fields.
        console.probe("click", CAL, str(IDC_CAL_IMPORT))
        answer_file_dialog(console, OPEN_TITLE, write_file(folder, "hand.ini", HAND_FILE))
        wait_until(lambda: frame.dump()["record"] == hand_record().hex(), 10, "the import did not reach the frame")

        count = frame.mark()
        exported = os.path.join(folder, "exported.ini")
        console.probe("click", CAL, str(IDC_CAL_EXPORT))
        answer_file_dialog(console, SAVE_TITLE, exported)
        wait_until(lambda: os.path.exists(exported), 10, "no file written")
        time.sleep(0.5)
        kept = bytes.fromhex(frame.dump()["record"])
        with open(exported, "rb") as f:
            written = f.read()
        check(written == calibration_file(kept) == HAND_FILE, "the file holds %r" % written)
        check(frame.since(count) == [report(CAL_CHANNEL, [6, 0x07, 0])], "the export sent more")
        check_no_box(env, 1500)
        check(sorted(os.listdir(folder)) == ["exported.ini", "hand.ini"], "left behind: %s" % os.listdir(folder))

        # Cancel: nothing sent, nothing written, nothing said.
        count = frame.mark()
        console.probe("click", CAL, str(IDC_CAL_EXPORT))
        answer_file_dialog(console, SAVE_TITLE, None)
        check_no_box(env, 1500)
        check(frame.since(count) == [], "Cancel reached the frame")

        # 4 points chosen (not applied), over the file written before: the record is asked for,
        # nothing is written, the old file stays whole, and the user is told.
        console.probe("click", CAL, str(MODE_BUTTONS[2]))
        console.probe("click", CAL, str(IDC_CAL_EXPORT))
        answer_file_dialog(console, SAVE_TITLE, exported, replace=True)
        check(owned_text_box(env) == SAVE_FAILED, "no word that nothing was saved")
        with open(exported, "rb") as f:
            check(f.read() == written, "the file written before was changed")
        check(sorted(os.listdir(folder)) == ["exported.ini", "hand.ini"], "left behind: %s" % os.listdir(folder))
        check(frame.since(count) == [report(CAL_CHANNEL, [6, 0x07, 0])], "the 4-point export sent %s" %
              frame.since(count))
    return "137 bytes equal to the frame's record; Cancel silent; 4 points told, old file kept"


def end_run(console, frame, kelvane, wid):
    """Ends a calibration run with Escape on its window; how it ended."""
    ends = calibration_command_count(frame, 0x05)
    kelvane.key_to(wid, "Escape")
    how = "Escape"
    if not calibration_commands_seen(frame, 0x05, ends + 1, 6):
        # The console, active again after its message, may keep the keyboard from the
        # full-screen window: then what Escape does there, its Cancel command.
        title = subprocess.run(["xdotool", "getwindowname", wid], capture_output=True, text=True).stdout.strip()
        console.probe("post", str(WM_COMMAND), str(IDCANCEL), "0", window=title)
        how = "Cancel"
    check(calibration_commands_seen(frame, 0x05, ends + 1, 10), "the calibration program did not end its run")
    wait_until(lambda: not kelvane.pids(), 20, "the calibration program did not end")
    return how


def scenario_calibration_program(env):
    full_screen = lambda w, h, t: (w, h) == SCREEN  # noqa: E731
    expected = windows_path(os.path.join(env.bin, "Kelvane.exe"))
    ended_by = []
    with calibration_page_open(env, 3, touch="manual") as (frame, console, _):
        kelvane = Started("Kelvane.exe", frame.port)
        for run in (1, 2):
            console.probe("click", CAL, str(IDC_CAL_START))
            wid = kelvane.wait_window(full_screen, 20)
            check(wid, "run %d: the calibration program did not start" % run)
            check(calibration_commands_seen(frame, 0x03, run, 15), "run %d: the calibration program did not begin" % run)
            # By its full path from the console's folder, without arguments.
            started = [kelvane.command_line(pid) for pid in kelvane.pids()]
            check(len(started) == 1 and [a.lower() for a in started[0]] == [expected.lower()],
                  "run %d: started as %s" % (run, started))
            if run == 1:
                # A second click while it runs.
                console.probe("click", CAL, str(IDC_CAL_START))
                box = dismiss_box(env, CONSOLE_MODULE_EN)
                check(box == (IDS_ALREADY_STARTED, IDS_CAPTION), "message %s" % (box,))
            ended_by.append(end_run(console, frame, kelvane, wid))
        check(calibration_command_count(frame, 0x03) == 2, "the frame did not see two calibrations begin")
        check_no_box(env, 1500)
    return "started by full path without arguments, 1084 while it ran, started again after it ended (by %s)" % (
        ", ".join(ended_by))


def scenario_two_programs_one_frame(env):
    # The console refreshes its calibration page again and again while a run goes on: the
    # replies to its requests reach the run's handles too, and the run still writes the
    # five-point result, byte for byte; the run's replies change nothing on the page.
    full_screen = lambda w, h, t: (w, h) == SCREEN  # noqa: E731
    with calibration_page_open(env, 3) as (frame, console, _):
        kelvane = Started("Kelvane.exe", frame.port)
        console.probe("click", CAL, str(IDC_CAL_START))
        wid = kelvane.wait_window(full_screen, 20)
        check(wid, "the calibration program did not start")
        refreshes = 0
        while not frame.wait_for(0x04, 0.1):
            check(refreshes < 60, "no CMD_CAL_WRITE_RESULT while the console refreshed")
            console.probe("tab", "0")
            open_calibration_page(console, frame)
            refreshes += 1
        results = [p for c, p in frame.calibration_commands() if c == 0x04]
        check(results == [grid_points_payload()], "results %s" % [r.hex() for r in results])
        options, modes, enabled = calibration_page(console)
        check(modes == [3] and all(enabled.values()), "the page shows %s %s" % (modes, enabled))
        time.sleep(1.5)  # the buttons come with the next tick
        kelvane.key_to(wid, "Return")
        check(calibration_commands_seen(frame, 0x05, 1, 10), "the run did not end")
        ends = [p for c, p in frame.calibration_commands() if c == 0x05]
        check(ends == [b"\x01"], "CMD_CAL_END %s" % [e.hex() for e in ends])
        wait_until(lambda: not kelvane.pids(), 20, "the calibration program did not end")
        check_no_box(env, 1000)
    return "five-point result kept while the console refreshed %d times" % refreshes


def scenario_calibration_program_by_full_path(env):
    with tempfile.TemporaryDirectory(prefix="console-without-kelvane-") as folder, \
            tempfile.TemporaryDirectory(prefix="console-planted-kelvane-") as planted:
        for name in ("TactraConsole.exe", CONSOLE_MODULE_EN, CONSOLE_MODULE_ZH):
            shutil.copy(os.path.join(env.bin, name), folder)
        for name in ("Kelvane.exe", "KelvaneLangEN.dll", "KelvaneLangZH.dll"):
            shutil.copy(os.path.join(env.bin, name), planted)
        with calibration_page_open(env, 4, touch="manual", cwd=planted,
                                   exe=os.path.join(folder, "TactraConsole.exe")) as (frame, console, _):
            # A file dialog visits the planted folder first.
            console.probe("click", CAL, str(IDC_CAL_EXPORT))
            answer_file_dialog(console, SAVE_TITLE, os.path.join(planted, "visit.ini"))
            wait_until(lambda: os.path.exists(os.path.join(planted, "visit.ini")), 10, "the export wrote nothing")
            console.probe("click", CAL, str(IDC_CAL_START))
            box = dismiss_box(env, CONSOLE_MODULE_EN)
            check(box == (IDS_FILE_NOT_FOUND, IDS_CAPTION), "message %s" % (box,))
            time.sleep(2)
            check(not Started("Kelvane.exe", frame.port).pids(), "the planted calibration program ran")
            check(not frame.wait_for(0x03, 1), "a calibration began")
    return "1088, the planted Kelvane.exe in the current directory did not run"


def scenario_calibration_page_chinese(env):
    with calibration_page_open(env, 3, args=("1",)) as (_, console, _):
        shoot_options(env, console, "zh")
        text = console.show()[1][(CAL, IDC_CAL_START)]["text"]
        check(is_chinese(text), "the start button %r is not Chinese" % text)
    return "four illustrations, start button '%s'" % text


@contextlib.contextmanager
def config_console(env, version="win7", language=0, frame=True):
    """(console, frame) with Wine reporting `version`: a console in `language` against a new frame
    (or none), up and ready when there is a frame; both end afterwards."""
    reset_registry(env, language)
    sim = Frame(env, 3) if frame else None
    with wine_version(env, version):
        console = Console(env, sim.port if sim else free_port())
        try:
            if sim:
                check(console.wait_ready(), "the console did not come up")
            yield console, sim
            close_with_escape(console)
        finally:
            console.kill()
            if sim:
                sim.stop()
            if language:
                reset_registry(env, 0)


def scenario_config_read_apply(env):
    with config_console(env) as (console, frame):
        reads = open_tab(console, frame, 1, 7)
        check(reads == [settings_report(code, [1]) for code in CONFIG_READS],
              "reads %s" % [r[:5].hex() for r in reads])
        check_config_shown(console, FACTORY_SHOWN, "10", True, "the frame's settings")
        screenshot(env, "config-en-values.png")

        # The user's changes: every kind of control; setting 15 switched on brings its lists.
        for control, item in ((IDC_CFG_11, 0), (IDC_CFG_12A, 1), (IDC_CFG_21_A, 9), (IDC_CFG_21_B, 7),
                              (IDC_CFG_15_ON, 0), (IDC_CFG_15_TIME, 9), (IDC_CFG_15_LEVEL, 9), (IDC_CFG_14_TIME, 9),
                              (IDC_CFG_14_LEVEL, 0)):
            console.probe("select", "config", str(control), str(item))
        console.probe("spin", "config", str(IDC_CFG_16_SPIN), "up")
        console.probe("spin", "config", str(IDC_CFG_16_SPIN), "up")
        console.probe("slide", "config", str(IDC_CFG_17A), "5")
        time.sleep(0.5)
        writes = apply_config(console, frame, 7)
        expected = [(0x11, [1]), (0x12, [0, 0, 1]), (0x16, [1, 12]), (0x17, [5, 3, 5, 5]),
                    (0x21, [1, 0, 180, 0x07, 0xD0]), (0x15, [1, 10, 0x13, 0x88]), (0x14, [1, 1, 0x03, 0xE8])]
        check(writes == config_writes(expected), "writes %s" % [w[:10].hex() for w in writes])
        settings = frame.dump()["settings"]
        kept = {"cfg11": 1, "cfg12": [0, 0, 1], "cfg16": {"enabled": 1, "value": 12}, "cfg17": [5, 3, 5, 5],
                "cfg21": {"enabled": 1, "a": 180, "b": 2000}, "cfg15": {"enabled": 1, "level": 10, "time": 5000},
                "cfg14": {"enabled": 1, "level": 1, "time": 1000}}
        check(all(settings[k] == v for k, v in kept.items()), "the frame holds %s" % settings)
        check_no_box(env)

        # Read again: what the frame kept.
        reopen_config(console, frame)
        changed = dict(FACTORY_SHOWN)
        changed.update({IDC_CFG_11: (0, 1), IDC_CFG_12A: (1, 1), IDC_CFG_16_SPIN: (12, 1), IDC_CFG_17A: (5, 1),
                        IDC_CFG_21_A: (9, 1), IDC_CFG_21_B: (7, 1), IDC_CFG_15_ON: (0, 1), IDC_CFG_15_TIME: (9, 1),
                        IDC_CFG_15_LEVEL: (9, 1), IDC_CFG_14_TIME: (9, 1), IDC_CFG_14_LEVEL: (0, 1)})
        check_config_shown(console, changed, "12", True, "read back")
    return "7 paced reads, 7 exact writes the frame kept and showed again"


def scenario_config_refusal_and_default(env):
    with config_console(env) as (console, frame):
        open_tab(console, frame, 1, 7)
        console.probe("select", "config", str(IDC_CFG_21_B), "0")
        console.probe("slide", "config", str(IDC_CFG_17B), "1")
        time.sleep(0.5)
        frame.ctl("fault", "7:0x17", "refuse")
        console.probe("click", "config", str(IDC_CFG_APPLY))
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_REFUSED, IDS_CAPTION), "message %s" % (box,))
        check_no_box(env)
        frame.ctl("fault", "7:0x17", "none")
        writes = frame.received(SETTINGS_CHANNEL)[-7:]
        check([w[1] for w in writes] == CONFIG_READS, "the writes after the refused one did not go")
        settings = frame.dump()["settings"]
        check(settings["cfg17"] == [3, 3, 5, 5] and settings["cfg21"]["b"] == 100, "the frame holds %s" % settings)

        # Default: the frame's own settings, read again.
        before = len(frame.received(SETTINGS_CHANNEL))
        console.probe("click", "config", str(IDC_CFG_DEFAULT))
        wait_until(lambda: len(frame.received(SETTINGS_CHANNEL)) >= before + 8, 15, "Default did not read again")
        time.sleep(0.6)
        sent = frame.received(SETTINGS_CHANNEL)[before:]
        check(sent == [settings_report(0x81, [2])] + [settings_report(c, [1]) for c in CONFIG_READS],
              "Default sent %s" % [r[:5].hex() for r in sent])
        check(frame.dump()["settings"]["cfg21"]["b"] == 500, "the frame did not restore its settings")
        check_config_shown(console, FACTORY_SHOWN, "10", True, "after Default")
        check_no_box(env, 500)
    return "1085 once, the other six writes taken; Default restores and reads again"


def scenario_config_greyed_then_back(env):
    with config_console(env) as (console, frame):
        frame.ctl("fault", "7:0x14", "silent")
        open_tab(console, frame, 1, 7, settle=2.8)
        check_config_shown(console, GREYED_SHOWN, "5", False, "the last read unanswered")
        screenshot(env, "config-en-greyed.png")
        before = len(frame.received(SETTINGS_CHANNEL))
        console.probe("click", "config", str(IDC_CFG_APPLY))
        time.sleep(1.0)
        check(len(frame.received(SETTINGS_CHANNEL)) == before, "Apply wrote values the frame never told")

        # The frame answers again: the page comes back, and Apply writes what it read.
        frame.ctl("fault", "7:0x14", "none")
        reopen_config(console, frame)
        check_config_shown(console, FACTORY_SHOWN, "10", True, "answered again")
        writes = apply_config(console, frame, 7)
        check(writes == config_writes(FACTORY_WRITES), "writes %s" % [w[:10].hex() for w in writes])
    return "greyed with Apply off, back after an answered read; sliders written as read"


def scenario_config_later_windows(env):
    with config_console(env, "win10") as (console, frame):
        reads = open_tab(console, frame, 1, 6)
        check(reads == [settings_report(code, [1]) for code in CONFIG_READS[1:]],
              "reads %s" % [r[:5].hex() for r in reads])
        expected = dict(FACTORY_SHOWN)
        expected[IDC_CFG_11] = (0, 0)
        check_config_shown(console, expected, "10", True, "later Windows")
        console.probe("select", "config", str(IDC_CFG_11), "1")
        time.sleep(0.3)
        check_config_shown(console, expected, "10", True, "the first list chosen anyway")
        writes = apply_config(console, frame, 6)
        check(writes == config_writes(FACTORY_WRITES[1:]), "writes %s" % [w[:10].hex() for w in writes])
        check(frame.dump()["settings"]["cfg11"] == 2, "the first setting was written")
    return "6 reads and 6 writes, first list greyed at item 0"


def scenario_config_chinese(env):
    with config_console(env, language=1) as (console, frame):
        open_tab(console, frame, 1, 7)
        check_config_shown(console, FACTORY_SHOWN, "10", True, "the frame's settings")
        screenshot(env, "config-zh-values.png")
        frame.ctl("fault", "7:0x14", "silent")
        reopen_config(console, frame, settle=2.8)
        check_config_shown(console, GREYED_SHOWN, "5", False, "the last read unanswered")
        screenshot(env, "config-zh-greyed.png")
    return "read and greyed, in Chinese"


def scenario_config_no_frame(env):
    with config_console(env, frame=False) as (console, _):
        check(console.wait_window(lambda w, h, t: t == TITLE, 20), "no console window")
        check(dismiss_box(env, CONSOLE_MODULE_EN) == (IDS_NO_FRAME, IDS_CAPTION), "no message at start")
        check(console.wait_ready(), "the console did not come up")
        console.probe("tab", "1")
        check(dismiss_box(env, CONSOLE_MODULE_EN) == (IDS_NO_FRAME, IDS_CAPTION), "no message on the page")
        check_no_box(env)
        check_config_shown(console, GREYED_SHOWN, "5", False, "without a frame")
        console.probe("click", "config", str(IDC_CFG_DEFAULT))
        for n in (1, 2):
            check(dismiss_box(env, CONSOLE_MODULE_EN) == (IDS_NO_FRAME, IDS_CAPTION), "Default: message %d missing" % n)
        check_no_box(env)
    return "1083 once on the page, twice for Default; greyed"


def scenario_config_apply_after_unanswered_read(env):
    # One read goes unanswered: its controls stay greyed, and Apply writes the other six.
    with config_console(env) as (console, frame):
        frame.ctl("fault", "7:0x12", "silent")
        open_tab(console, frame, 1, 7, settle=2.8)
        frame.ctl("fault", "7:0x12", "none")
        writes = apply_config(console, frame, 6)
        expected = [w for w in FACTORY_WRITES if w[0] != 0x12]
        check(writes == config_writes(expected), "writes %s" % [w[:10].hex() for w in writes])
        check_no_box(env)
    return "six writes, none for the setting the frame did not tell"


def scenario_unrequested_flood(env):
    # A frame that floods every handle with refusals nobody asked for, on both channels, while
    # the calibration page is shown: no box, the window answers at once, nothing is written.
    with console_up(env) as (frame, console):
        open_calibration_page(console, frame)
        before = frame.mark()
        frame.ctl("send", "060201" + "00ff", "--count", "1000")
        frame.ctl("send", "0713020200ff", "--count", "1000")
        frame.ctl("send", "0701020200ff", "--count", "1000")
        time.sleep(1.0)
        started = time.time()
        options, modes, enabled = calibration_page(console)
        answered = time.time() - started
        check(answered < 1.0, "the window took %.1f s to answer" % answered)
        check(modes == [3] and all(enabled.values()), "the page shows %s %s" % (modes, enabled))
        check_no_box(env)
        check(frame.mark() == before, "the console wrote %d reports" % (frame.mark() - before))
        close_with_escape(console)
    return "3000 unrequested refusals: no box, window answered in %.2f s" % answered


def scenario_export_amid_samples(env):
    # The frame sends a thousand calibration samples as the export's record comes: the record is
    # still the one written, and only it.
    with console_up(env) as (frame, console):
        open_calibration_page(console, frame)
        folder = tempfile.mkdtemp(prefix="export-", dir=env.artifacts)
        path = os.path.join(folder, "amid.ini")
        frame.ctl("fault", "6:0x07", "delay", "300")
        console.probe("click", CAL, str(IDC_CAL_EXPORT))
        answer_file_dialog(console, SAVE_TITLE, path)
        frame.ctl("send", "060805070010002000ff", "--count", "1000")
        check(poll(lambda: os.path.exists(path), 10, 0.1), "no file written")
        record = bytes.fromhex(frame.dump()["record"])
        with open(path, "rb") as f:
            check(f.read() == calibration_file(record), "the file is not the frame's record")
        check_no_box(env)
        frame.ctl("fault", "6:0x07", "none")
        close_with_escape(console)
    return "the record written amid 1000 samples"


SCENARIOS = [
    ("first start", scenario_first_start, BOTH),
    ("start without a frame", scenario_no_frame),
    ("plug and unplug, new paths", scenario_plug_unplug),
    ("collections arriving one by one", scenario_staggered_arrival, BOTH),
    ("a channel that stops taking reports", scenario_stalled_channel, BOTH),
    ("options Apply and next start", scenario_options_and_next_start),
    ("tray icon and minimise", scenario_tray),
    ("Chinese by argument", scenario_chinese_by_argument),
    ("language module missing", scenario_module_missing),
    ("config read, Apply, read back", scenario_config_read_apply, BOTH),
    ("config refused write, Default", scenario_config_refusal_and_default),
    ("config greyed, then back", scenario_config_greyed_then_back),
    ("config later Windows", scenario_config_later_windows),
    ("config Chinese", scenario_config_chinese),
    ("config without a frame", scenario_config_no_frame),
    ("calibration option and mode", scenario_calibration_option_and_mode),
    ("calibration mode refused", scenario_calibration_mode_refused),
    ("calibration import and factory", scenario_calibration_import_and_factory),
    ("calibration export", scenario_calibration_export, BOTH),
    ("calibration program", scenario_calibration_program),
    ("calibration program by full path", scenario_calibration_program_by_full_path),
    ("two programs on one frame", scenario_two_programs_one_frame),
    ("calibration page in Chinese", scenario_calibration_page_chinese),
    ("config Apply after an unanswered read", scenario_config_apply_after_unanswered_read),
    ("a flood of refusals nobody asked for", scenario_unrequested_flood, BOTH),
    ("export amid the frame's samples", scenario_export_amid_samples),
]


def prepare(env):
    return tools_present(env, "window_probe.exe", "msgbox_probe.exe", "TactraConsole.exe", CONSOLE_MODULE_EN,
                         CONSOLE_MODULE_ZH)


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

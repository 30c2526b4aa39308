"""What the console's scenarios share (console_e2e.py runs them; fault_matrix_e2e.py, soak_e2e.py,
timings.py and install_e2e.py build on the same): the console as a program, what the frame and its
pages show of the simulated frame, and the steps every page's scenarios take.
"""

import contextlib
import os
import subprocess
import time

from console_ids import (IDC_CAL_APPLY, IDC_CAL_EXPORT, IDC_CAL_FACTORY, IDC_CAL_IMPORT, IDC_CAL_MODE_2,
                         IDC_CAL_MODE_3, IDC_CAL_MODE_4, IDC_CAL_OPTION_0, IDC_CAL_OPTION_1, IDC_CAL_OPTION_2,
                         IDC_CAL_OPTION_3, IDC_CAL_START, IDC_CFG_11, IDC_CFG_12A, IDC_CFG_12B, IDC_CFG_12C,
                         IDC_CFG_14_LEVEL, IDC_CFG_14_ON, IDC_CFG_14_TIME, IDC_CFG_15_LEVEL, IDC_CFG_15_ON,
                         IDC_CFG_15_TIME, IDC_CFG_16_ON, IDC_CFG_16_SPIN, IDC_CFG_16_TEXT, IDC_CFG_17A, IDC_CFG_17B,
                         IDC_CFG_21_A, IDC_CFG_21_B, IDC_CFG_21_ON, IDC_CFG_APPLY, IDC_CFG_DEFAULT, IDC_INFO_COUNT_A,
                         IDC_INFO_COUNT_B, IDC_INFO_LIST_A, IDC_INFO_LIST_B, IDC_INFO_TEXT_F2, IDC_INFO_TEXT_F3,
                         IDC_INFO_TEXT_F4, IDC_INFO_TEXT_F5, IDC_INFO_VALUE_01, IDC_STATUS, IDC_TABS)
from harness import (CAL_CHANNEL, SETTINGS_CHANNEL, Failure, Frame, LastRun, Program, check, poll, poll_value,
                     probe_box, run_windows, wait_until, windows_path)

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
# How long a scenario waits for the window to show what a check expects of it.
SHOWN_WITHIN_S = 10


class Console(Program):
    STARTUP_LOG_VARIABLE = "TACTRA_CONSOLE_STARTUP_LOG"

    def __init__(self, env, port, args=(), startup_log=None, cwd=None, exe="TactraConsole.exe", output=None):
        super().__init__(env, exe, port, args, cwd=cwd, startup_log=startup_log, output=output)
        self.handle = None

    # Whether the scenario waits for what each post does itself (Env.probe).
    posts_at_once = False

    def probe(self, *argv, window=None):
        # Once known, the window by its handle: a message box that is closing has the same title.
        window = window or ("#" + self.handle if self.handle else TITLE)
        return self.env.probe(window, *argv, at_once=self.posts_at_once)

    def show(self):
        """(window fields, {(page, id): control fields}) of the console as it is now."""
        code, out = self.probe("show")
        if code != 0:
            raise Failure("no console window (%s; %s)" % (LastRun.describe(), self.state()))
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


def when_shown(read, accept, timeout=SHOWN_WITHIN_S):
    """What `read()` gives once `accept` takes it, or as it is after `timeout`: the wait for what the
    check that follows expects of the window. Meanwhile a page not made yet has no controls."""
    def attempt():
        try:
            return read()
        except KeyError:
            return None
    value = poll_value(attempt, lambda v: v is not None and accept(v), timeout)
    return read() if value is None else value


def calibration_page(console, controls=None):
    """(checked option buttons, checked mode buttons, enabled state of every control) of the page."""
    controls = controls or console.show()[1]
    options = [i for i, cid in enumerate(OPTION_BUTTONS) if controls[(CAL, cid)]["check"] == "1"]
    modes = [m for m, cid in MODE_BUTTONS.items() if controls[(CAL, cid)]["check"] == "1"]
    ids = OPTION_BUTTONS + tuple(MODE_BUTTONS.values()) + CAL_ACTIONS
    enabled = {cid: controls[(CAL, cid)]["enabled"] == "1" for cid in ids}
    return options, modes, enabled


def calibration_page_answered(console, frame):
    """Whether the calibration page is the tab shown and shows the frame's option and mode, every
    control usable: what a refresh the frame answered ends with."""
    controls = console.show()[1]
    options, modes, enabled = calibration_page(console, controls)
    dump = frame.dump()
    shows_frame = (options, modes) == ([dump["option13"]], [dump["mode"]])
    return controls[("main", IDC_TABS)]["selected"] == "2" and shows_frame and all(enabled.values())


def open_calibration_page(console, frame):
    before = frame.mark()
    console.probe("tab", "2")
    wait_until(lambda: len(frame.since(before)) >= 2, 10, "the calibration page read nothing")
    when_shown(lambda: calibration_page_answered(console, frame), bool)
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
    def dialog():
        code, out = console.probe("show", window=title)
        return out.splitlines() if code == 0 else []
    # The dialog is found by its title while it still lays itself out and fills its name box: it
    # is answered once it is on screen, and the name once the box holds it.
    wait_until(lambda: " visible=1 " in (dialog() or [""])[0], 20, "no %s dialog on screen" % title)
    if path is None:
        console.probe("click", "main", str(DIALOG_CANCEL), window=title)
    else:
        name = windows_path(path)

        def name_taken():
            console.probe("settext", "main", str(FILE_NAME_BOX), name, window=title)
            return any(" id=%d " % FILE_NAME_BOX in line and line.endswith(" text=" + name) for line in dialog())
        wait_until(name_taken, 20, "the %s dialog's name box did not take %s" % (title, name))
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


def select_tab(console, tab, timeout=SHOWN_WITHIN_S):
    """Selects a tab as the user does, again while a sequence under way refuses the change, until
    the tab is the one shown: its page's own sequence has begun by then."""
    def selected():
        console.probe("tab", str(tab))
        return console.show()[1][("main", IDC_TABS)]["selected"] == str(tab)
    if not poll(selected, timeout, 0.3):
        raise Failure("tab %d was not selected (%s)" % (tab, console.state()))


def open_tab(console, frame, tab, reads, shown=None):
    """Selects a tab and waits for its reads, and then until `shown()` holds (what the page shows
    once they are answered); the reports the frame received meanwhile."""
    before = len(frame.received(SETTINGS_CHANNEL))
    console.probe("tab", str(tab))
    wait_until(lambda: len(frame.received(SETTINGS_CHANNEL)) >= before + reads, 15, "tab %d did not read" % tab)
    if shown:
        when_shown(shown, bool)
    return frame.received(SETTINGS_CHANNEL)[before:]


def info_shows_frame(console):
    return console.texts("info", FRAME_INFO.keys()) == FRAME_INFO


def reopen_config(console, frame, reads=7, shown=None):
    """The information page, then the configuration page again: it reads anew."""
    open_tab(console, frame, 0, len(INFO_REQUESTS), lambda: info_shows_frame(console))
    return open_tab(console, frame, 1, reads, shown)


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


def config_showing(console, expected, text, edit_enabled):
    """A wait's test of what check_config_shown checks."""
    shown, edit, enabled = config_shown(console)
    return all(shown[i] == expected[i] for i in expected) and (edit, enabled) == (text, edit_enabled)


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
    # The page shows nothing new after Apply: a write too many would come within this pause.
    time.sleep(0.5)
    return frame.received(SETTINGS_CHANNEL)[before:]


def window_box(console):
    """(x, y, w, h) of the console's main window on the screen, its title bar included."""
    wid = console.wait_window(lambda w, h, _: w > 300 and h > 300, 10)
    check(wid, "no console window (%s)" % console.state())
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], capture_output=True, text=True,
                              check=True).stdout
    fields = dict(line.split("=", 1) for line in geometry.split())
    return tuple(int(fields[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


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

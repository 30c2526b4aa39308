#!/usr/bin/env python3
"""TactraConsole.exe end to end under Wine and Xvfb against the native simulated frame (harness.py).

Each scenario checks what the frame received, what the controls show (window_probe.exe), the
registry and the messages (msgbox_probe.exe). Screenshots of every tab in both languages go to
the artifacts folder.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

from harness import (BOTH, SETTINGS_CHANNEL, Frame, Program, check, compare_across_transports, dismiss_box,
                     free_port, probe_box, run_scenarios, run_windows, screenshot)

TITLE = "TactraConsole"
MODULE_EN = "TactraConsoleLangEN.dll"
MODULE_ZH = "TactraConsoleLangZH.dll"
GLOBAL = r"HKLM\Software\Tactra\GlobalSettings"
STARTUP = r"HKLM\Software\Tactra\StartupSettings"
RUN = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
WM_TRAYICON, WM_LBUTTONDBLCLK, WM_RBUTTONUP = 0x464, 0x203, 0x205
WM_SYSCOMMAND, SC_MINIMIZE = 0x112, 0xF020
INFO_REQUESTS = [0xF2, 0xF3, 0xF4, 0xF5, 0x01, 0x02]
FIXED_PAUSES_MS = 3 * 300 + 6 * 20  # the link's start, then the information page's paced requests

# The simulated frame's information, as the information page shows it.
FRAME_INFO = {1042: "23", 1038: "3", 1040: "1+2+3", 1039: "4", 1041: "10+20+30+40", 1050: "V2.16.03",
              1051: "20260311", 1052: "IR6C-T32", 1053: "Tactra infrared multi-touch frame, simulated"}
PLACEHOLDERS = {1042: "0", 1038: "0", 1040: "0", 1039: "0", 1041: "0", 1050: "N/A", 1051: "N/A",
                1052: "N/A", 1053: "N/A"}


class Console(Program):
    def __init__(self, env, port, args=(), startup_log=None, cwd=None, exe="TactraConsole.exe"):
        extra = {}
        if startup_log:
            if os.path.exists(startup_log):
                os.remove(startup_log)
            extra["TACTRA_CONSOLE_STARTUP_LOG"] = startup_log
        super().__init__(env, exe, port, args, extra_env=extra, cwd=cwd)
        self.handle = None

    def probe(self, *argv, window=None):
        return run_windows(self.env, ["window_probe.exe", window or TITLE, *argv])

    def show(self):
        """(window fields, {(page, id): control fields}) of the console as it is now."""
        code, out = self.probe("show")
        check(code == 0, "no console window")
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
            if code == 0 and "id=1053" in out:
                self.handle = out.split("handle=")[1].split()[0]
                return True
            if self.proc.poll() is not None:
                return False
            time.sleep(0.3)
        return False

    def status(self):
        return self.show()[1][("main", 1020)]["text"]

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


def wait_until(predicate, timeout, message):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return
        time.sleep(0.3)
    check(False, message)


def startup_overhead(log):
    if not os.path.exists(log):
        return None
    with open(log) as f:
        for line in f:
            if line.startswith("information-shown-ms="):
                return int(line.split("=")[1]) - FIXED_PAUSES_MS
    return None


def close_with_escape(console):
    console.key_to(console.wait_window(lambda w, h, t: t == TITLE, 10), "Escape")
    check(console.wait_exit(15), "Escape did not end the console")


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
        check(controls[("main", 1004)]["selected"] == "0", "tab %s" % controls[("main", 1004)]["selected"])
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
            startup_overhead(log), same and "; " + same)
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
        box = dismiss_box(env, MODULE_EN)
        check(box == (1083, 1080), "message %s" % (box,))
        check(console.wait_ready(), "the console did not come up")
        window, controls = console.show()
        check(controls[("main", 1004)]["selected"] == "0", "a tab changed while a message box of a sequence was open")
        check(console.texts("info", PLACEHOLDERS.keys()) == PLACEHOLDERS, "placeholders not shown")
        status = console.status()
        # Tab 0 again (as the user selects it): the message every time.
        console.probe("tab", "1")
        time.sleep(0.5)
        console.probe("tab", "0")
        box = dismiss_box(env, MODULE_EN)
        check(box == (1083, 1080), "message on the second visit %s" % (box,))
        close_with_escape(console)
        return "1083 at start and on each visit, placeholders, status '%s'" % status
    finally:
        console.kill()


def scenario_plug_unplug(env):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
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
        console.probe("tab", "1")
        console.probe("tab", "0")
        time.sleep(2)
        check(len(frame.received(SETTINGS_CHANNEL)) == before + 6, "the frame at new paths does not answer")
        close_with_escape(console)
        return "'%s' / '%s', also at new paths" % (connected, disconnected)
    finally:
        console.kill()
        frame.stop()


def scenario_options_and_next_start(env):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
        console.probe("tab", "3")
        time.sleep(0.5)
        c = console.show()[1]
        check((c[("options", 1054)]["check"], c[("options", 1055)]["check"]) == ("1", "0"), "language boxes")
        for box in (1055, 1056, 1057):
            console.probe("click", "options", str(box))
        time.sleep(0.5)
        c = console.show()[1]
        check([c[("options", i)]["check"] for i in (1054, 1055, 1056, 1057)] == ["0", "1", "1", "1"],
              "boxes after the clicks")
        console.probe("click", "options", "1058")
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
        console.probe("post", str(WM_TRAYICON), "128", str(WM_LBUTTONDBLCLK))
        wait_until(console.visible, 10, "a double click on the icon did not show the window")
        status = console.status()
        check(any(ord(ch) > 0x2E80 for ch in status), "the status line %r is not Chinese" % status)
        screenshot(env, "console-zh-tab0.png")
        for tab in range(1, 5):
            console.probe("tab", str(tab))
            time.sleep(1.0)
            screenshot(env, "console-zh-tab%d.png" % tab)

        # Start at logon off again: the entry goes, and a second Apply says nothing.
        console.probe("click", "options", "1056")
        console.probe("click", "options", "1057")
        console.probe("click", "options", "1058")
        time.sleep(1.0)
        check(env.reg_value(RUN, "TactraConsole") is None, "the Run entry stayed")
        console.probe("click", "options", "1058")
        time.sleep(1.0)
        check(run_windows(env, ["msgbox_probe.exe", "500"])[0] == 1, "a message after removing an absent entry")
        close_with_escape(console)
        return "Chinese, hidden after start, Run entry quoted and removed"
    finally:
        console.kill()
        frame.stop()
        reset_registry(env, 0)


def scenario_tray(env):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
        # The shell says its notification area restarted: the icon is there after it.
        console.probe("taskbar-created")
        time.sleep(0.5)
        check(console.tray(), "no icon after the shell's restart message")
        console.probe("post", str(WM_SYSCOMMAND), str(SC_MINIMIZE), "0")
        wait_until(lambda: not console.visible(), 10, "minimising did not hide the window")
        check(console.tray(), "no icon while minimised")
        console.probe("post", str(WM_TRAYICON), "129", str(WM_LBUTTONDBLCLK))
        time.sleep(1.0)
        check(not console.visible(), "a callback of another icon id showed the window")
        console.probe("post", str(WM_TRAYICON), "128", str(WM_LBUTTONDBLCLK))
        wait_until(console.visible, 10, "a double click on the icon did not show the window")
        # The icon's menu: its one item ends the console.
        handle = console.handle
        console.probe("post", str(WM_TRAYICON), "128", str(WM_RBUTTONUP))
        time.sleep(1.5)
        subprocess.run(["xdotool", "key", "x"], check=False)
        check(console.wait_exit(15), "the icon's menu item did not end the console")
        check(not console.tray("#" + handle), "the icon stayed after the console ended")
        return "minimise hides, icon 128 shows, the menu ends the console"
    finally:
        console.kill()
        frame.stop()


def scenario_chinese_by_argument(env):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port, args=("1",))
    try:
        check(console.wait_ready(), "the console did not come up")
        status = console.status()
        check(any(ord(ch) > 0x2E80 for ch in status), "the status line %r is not Chinese" % status)
        check(env.reg_value(GLOBAL, "Language") == "0x0", "the registry was changed")
        close_with_escape(console)
        return "Chinese status '%s', registry untouched" % status
    finally:
        console.kill()
        frame.stop()


def scenario_module_missing(env):
    folder = tempfile.mkdtemp(prefix="console-alone-")
    planted = tempfile.mkdtemp(prefix="console-planted-")
    shutil.copy(os.path.join(env.bin, "TactraConsole.exe"), folder)
    shutil.copy(os.path.join(env.bin, MODULE_EN), planted)
    console = Console(env, free_port(), ("0",), cwd=planted, exe=os.path.join(folder, "TactraConsole.exe"))
    try:
        out = probe_box(env, None, 15000)
        check("caption=Error" in out, "caption: %s" % out)
        check("text=Cannot find language file: TactraConsoleLangEN.dll!" in out, "text: %s" % out)
        check(console.wait_exit(15), "the console did not end")
        check(console.probe("show")[0] == 1, "a console window appeared")
        return "fixed English message naming the module, no window"
    finally:
        console.kill()
        shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(planted, ignore_errors=True)


SCENARIOS = [
    ("first start", scenario_first_start, BOTH),
    ("start without a frame", scenario_no_frame),
    ("plug and unplug, new paths", scenario_plug_unplug),
    ("options Apply and next start", scenario_options_and_next_start),
    ("tray icon and minimise", scenario_tray),
    ("Chinese by argument", scenario_chinese_by_argument),
    ("language module missing", scenario_module_missing),
]


def prepare(env):
    for tool in ("window_probe.exe", "msgbox_probe.exe", "TactraConsole.exe", MODULE_EN, MODULE_ZH):
        if not os.path.exists(os.path.join(env.bin, tool)):
            print("missing %s in %s" % (tool, env.bin))
            return False
    return True


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

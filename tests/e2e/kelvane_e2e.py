#!/usr/bin/env python3
"""Kelvane.exe end to end under Wine and Xvfb against the native simulated frame.

Each scenario starts its own tactra-framesim on a free loopback port, runs the program so that it
finds that frame, drives it as a user would (keys through xdotool, message boxes through
msgbox_probe.exe) and checks what the frame received. Screenshots of the run go to the artifacts
folder. --transport sim (the default) reaches the frame through the simulator host
(TACTRA_FRAME_SIM); --transport vframe runs the program unchanged over Wine's HID stack with the
virtual frame (frame_transport.py). The checks are the same for both.
"""

import argparse
import os
import subprocess
import sys
import time
import traceback

from frame_transport import Failure, Transport, add_arguments, check, free_port

# The Wine loader and server of the Windows build under test (set by scripts/with-wine).
WINE = os.environ.get("WINE", "wine")
WINESERVER = os.environ.get("WINESERVER", "wineserver")

CAL_CHANNEL = 4
CAL_REPORT_ID, CAL_REPORT_LENGTH = 6, 48
GET_MODE, BEGIN, WRITE_RESULT, END = 0x01, 0x03, 0x04, 0x05
FIXED_PAUSES_MS = 3 * 200 + 50 + 500
SCREEN = (1024, 768)
OS_CLASS_UNDER_WINE = 6  # Wine reports Windows 7 or later


class Env:
    def __init__(self, args):
        self.bin = os.path.abspath(args.bin)
        self.native_bin = os.path.abspath(args.native_bin)
        self.artifacts = os.path.abspath(args.artifacts)
        os.makedirs(self.artifacts, exist_ok=True)
        self.framesim = os.path.join(self.native_bin, "tactra-framesim")
        self.expected_tool = os.path.join(self.native_bin, "tactra-e2e-expected")
        environment = dict(os.environ)
        environment.setdefault("WINEDEBUG", "-all")
        self.transport = Transport(args.transport, self.framesim, environment)
        self.base = self.transport.base

    def wine(self, *argv, env=None, **kw):
        return subprocess.Popen([WINE, *argv], cwd=self.bin, env=env or self.base, **kw)

    def prepare_prefix(self):
        self.transport.prepare()
        # Chinese glyphs come from the font links that scripts/with-wine puts into the prefix.
        # Language comes from the command line or the registry; start each run from English.
        subprocess.run([WINE, "reg", "add", r"HKLM\Software\Tactra\GlobalSettings", "/v", "Language",
                        "/t", "REG_DWORD", "/d", "0", "/f"],
                       env=self.base, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        subprocess.run([WINESERVER, "-w"], env=self.base, check=False)


def serve_frame(env, mode, touch="auto", extra=()):
    """The scenario's frame, reachable over the harness's transport."""
    return env.transport.frame("--mode", str(mode), "--touch", touch, "--screen", "%dx%d" % SCREEN, *extra)


def calibration_commands(frame):
    """(code, payload bytes) of every report the frame received on the calibration channel."""
    commands = []
    for b in frame.received(CAL_CHANNEL):
        n = b[2]
        commands.append((b[1], b[3:3 + n]))
    return commands


def calibration_report(code, payload):
    """A whole calibration-channel report as the program writes it: ID, code, N, payload, the
    terminator, zeros to the report's length."""
    report = bytes([CAL_REPORT_ID, code, len(payload)]) + bytes(payload) + b"\xff"
    return report + bytes(CAL_REPORT_LENGTH - len(report))


def check_whole_reports(frame, env, name):
    """Every calibration-channel report arrived whole and as the program builds it, over either
    transport; the reports are kept per transport, and compared with the other transport's from
    the same build where that run left them."""
    reports = frame.received(CAL_CHANNEL)
    for b in reports:
        check(len(b) == CAL_REPORT_LENGTH, "a %d-byte report on the calibration channel" % len(b))
        check(b == calibration_report(b[1], b[3:3 + b[2]]), "report %s is not as built" % b.hex())
    mine = os.path.join(env.artifacts, "received-%s-%s.txt" % (name, env.transport.name))
    with open(mine, "w") as f:
        f.write("\n".join(r.hex() for r in reports) + "\n")
    other = "vframe" if env.transport.name == "sim" else "sim"
    theirs = os.path.join(env.artifacts, "received-%s-%s.txt" % (name, other))
    built = os.path.getmtime(os.path.join(env.bin, "Kelvane.exe"))
    if os.path.exists(theirs) and os.path.getmtime(theirs) > built:
        with open(theirs) as f:
            check(f.read() == open(mine).read(), "the frame received other bytes over %s than over %s" %
                  (env.transport.name, other))
        return "same bytes as over %s" % other
    return ""


def wait_for(frame, code, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if any(c == code for c, _ in calibration_commands(frame)):
            return True
        time.sleep(0.25)
    return False


class Program:
    def __init__(self, env, port, args=(), startup_log=None):
        """The program, finding the frame served on `port` (None: there is none)."""
        self.env = env
        run_env = env.transport.program_env(port)
        if startup_log:
            if os.path.exists(startup_log):
                os.remove(startup_log)
            run_env["KELVANE_STARTUP_LOG"] = startup_log
        self.proc = env.wine("Kelvane.exe", *args, env=run_env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_visible(self, small=False, timeout=15):
        """A visible window of the program: the full-screen run, or (small) a message box."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            out = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "kelvane.exe"],
                                 capture_output=True, text=True)
            for wid in out.stdout.split():
                geometry = subprocess.run(["xdotool", "getwindowgeometry", wid],
                                          capture_output=True, text=True).stdout
                if ("Geometry: %dx%d" % SCREEN in geometry) != small:
                    return wid
            time.sleep(0.2)
        return None

    def window(self, timeout=15):
        wid = self.wait_visible(timeout=timeout)
        if not wid:
            raise Failure("no visible Kelvane window")
        return wid

    def title(self):
        out = subprocess.run(["xdotool", "getwindowname", self.window()], capture_output=True, text=True)
        return out.stdout.strip()

    def key(self, name):
        w = self.window()
        subprocess.run(["xdotool", "windowfocus", "--sync", w], check=False, timeout=10)
        subprocess.run(["xdotool", "key", "--window", w, name], check=False, timeout=10)

    def wait_exit(self, timeout):
        try:
            self.proc.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)


def probe_box(env, module, timeout_ms):
    args = [WINE, "msgbox_probe.exe", str(timeout_ms)] + ([module] if module else [])
    out = subprocess.run(args, cwd=env.bin, env=env.base, capture_output=True, text=True,
                         timeout=timeout_ms / 1000 + 30)
    if out.returncode != 0:
        raise Failure("no message box appeared")
    return out.stdout


def dismiss_owned_box(env, module, timeout_ms=15000):
    """Closes the next message box; returns (text id, caption id, owner: run, none or other)."""
    out = probe_box(env, module, timeout_ms)
    ids = {}
    owner = None
    for line in out.splitlines():
        if line.startswith("text-id="):
            for part in line.split():
                k, v = part.split("=")
                ids[k] = int(v)
        elif line.startswith("owner="):
            owner = line.split("=", 1)[1].strip()
    return ids.get("text-id"), ids.get("caption-id"), owner


def dismiss_box(env, module, timeout_ms=15000):
    """Closes the next message box; returns (text id, caption id)."""
    return dismiss_owned_box(env, module, timeout_ms)[:2]


def screenshot(env, name):
    if env.transport.name != "sim":
        name = "%s-%s" % (env.transport.name, name)
    path = os.path.join(env.artifacts, name)
    subprocess.run(["import", "-display", os.environ.get("DISPLAY", ":99"), "-window", "root", path],
                   check=False, timeout=20)
    return path


def expected_payload(env, mode):
    out = subprocess.run([env.expected_tool, str(mode), str(SCREEN[0]), str(SCREEN[1]),
                          str(OS_CLASS_UNDER_WINE), "0"], capture_output=True, text=True, check=True)
    return bytes.fromhex(out.stdout.strip())


def startup_overhead(log):
    if not os.path.exists(log):
        return None
    with open(log) as f:
        for line in f:
            if line.startswith("first-target-ms="):
                return int(line.split("=")[1]) - FIXED_PAUSES_MS
    return None


# Scenarios ------------------------------------------------------------------------------------

def full_run(env, mode, key, language_args=(), shots=None):
    frame = serve_frame(env, mode)
    log = os.path.join(env.artifacts, "startup-mode%d.log" % mode)
    program = Program(env, frame.port, language_args, startup_log=log)
    try:
        program.window()
        if shots:
            time.sleep(3)
            screenshot(env, shots + "-in-progress.png")
        check(wait_for(frame, WRITE_RESULT, 60), "no CMD_CAL_WRITE_RESULT within 60 s")
        time.sleep(1.2)  # the buttons appear with the next tick
        if shots:
            screenshot(env, shots + "-complete.png")
        title = program.title()
        program.key(key)
        check(program.wait_exit(20), "the program did not end after %s" % key)
        commands = calibration_commands(frame)
        codes = [c for c, _ in commands]
        check(codes == [GET_MODE, BEGIN, WRITE_RESULT, END], "commands %s" % codes)
        check(commands[2][1] == expected_payload(env, mode),
              "result %s, computed %s" % (commands[2][1].hex(), expected_payload(env, mode).hex()))
        keep = 1 if key == "Return" else 0
        check(commands[3][1] == bytes([keep]), "CMD_CAL_END payload %s" % commands[3][1].hex())
        same = check_whole_reports(frame, env, "mode%d-%s" % (mode, key))
        return title, "startup beyond fixed pauses: %s ms%s" % (startup_overhead(log), same and "; " + same)
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


def cancel(program):
    program.key("Escape")
    check(program.wait_exit(20), "the program did not end after Escape")


def check_abandoned(frame):
    """The run told the frame nothing but its mode query, the start and CMD_CAL_END [0]."""
    commands = calibration_commands(frame)
    check([c for c, _ in commands] == [GET_MODE, BEGIN, END], "commands %s" % commands)
    check(commands[-1][1] == b"\x00", "CMD_CAL_END payload %s" % commands[-1][1].hex())


def scenario_no_touch(env):
    frame = serve_frame(env, 3, touch="manual")
    program = Program(env, frame.port)
    try:
        program.window()
        started = time.time()
        check(program.wait_exit(40), "the run did not end by itself")
        elapsed = time.time() - started
        check(elapsed > 15, "the run ended after %.1f s" % elapsed)
        check_abandoned(frame)
        return "ended %.1f s after the window appeared" % elapsed
    finally:
        program.kill()
        frame.stop()


def scenario_no_frame(env):
    program = Program(env, None)  # no frame: nothing listens, no device present
    try:
        first = dismiss_box(env, "KelvaneLangEN.dll")
        check(first == (1059, 1060), "first message %s" % (first,))
        second = dismiss_box(env, "KelvaneLangEN.dll")
        check(second == (1065, 1050), "second message %s" % (second,))
        check(program.wait_exit(15), "the program did not end")
        return "1059/1060 then 1065/1050"
    finally:
        program.kill()


def scenario_unplug(env):
    # Over the virtual frame the removal comes from Wine's plug-and-play: the bridge removes the
    # frame's six devices (on Windows: one device with six collections), and the program gets a
    # removal notice for each collection's path, in the HID#HIDCLASS#000N form of a root device
    # rather than a USB frame's HID#VID_595A&PID_0008&ColNN.
    frame = serve_frame(env, 4, touch="manual")
    program = Program(env, frame.port)
    try:
        program.window()
        time.sleep(1.5)
        frame.ctl("unplug")
        first = dismiss_box(env, "KelvaneLangEN.dll")
        check(first == (1061, 1050), "first message %s" % (first,))
        second = dismiss_box(env, "KelvaneLangEN.dll")
        check(second == (1065, 1050), "second message %s" % (second,))
        check(program.wait_exit(15), "the program did not end")
        codes = [c for c, _ in calibration_commands(frame)]
        check(codes == [GET_MODE, BEGIN], "commands %s" % codes)
        same = check_whole_reports(frame, env, "unplug")
        return "1061 then 1065, no CMD_CAL_END" + (same and "; " + same)
    finally:
        program.kill()
        frame.stop()


def scenario_degenerate_fit(env):
    # Raw Y equals raw X: the four corners lie on one line, far enough apart to be taken.
    frame = serve_frame(env, 2, extra=("--raw-map", "1,2,0,1,2,0"))
    program = Program(env, frame.port)
    try:
        program.window()
        box = dismiss_box(env, "KelvaneLangEN.dll", timeout_ms=60000)
        check(box == (1066, 1050), "message %s" % (box,))
        time.sleep(1.2)
        program.key("Return")  # no OK without a result
        time.sleep(1.5)
        check(program.proc.poll() is None, "Enter ended a run that has no result")
        cancel(program)
        check_abandoned(frame)
        return "1066, no result sent, Cancel only"
    finally:
        program.kill()
        frame.stop()


def scenario_begin_refused(env):
    # The refusal is shown by the reply handler on a reader worker while the window's thread
    # waits for that reply: the box must appear at once, not when the wait runs out.
    frame = serve_frame(env, 3, touch="manual")
    frame.ctl("fault", "6:3", "refuse")
    program = Program(env, frame.port)
    try:
        # Meanwhile the window's thread waits for the reply and answers no one: a Wine process
        # started now would wait for it too, so the probe starts once the box is on screen.
        check(program.wait_visible(small=True, timeout=5), "no message box within 5 s")
        box = dismiss_box(env, "KelvaneLangEN.dll", timeout_ms=2000)
        check(box == (1066, 1050), "message %s" % (box,))
        time.sleep(1.5)
        cancel(program)
        check_abandoned(frame)
        return "1066 at once, then Cancel"
    finally:
        program.kill()
        frame.stop()


MOUSE_KEY = r"HKCU\Control Panel\Mouse"


def mouse_value(env, name):
    out = subprocess.run([WINE, "reg", "query", MOUSE_KEY, "/v", name], env=env.base,
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == name:
            return parts[2].strip()
    return None


def set_mouse_value(env, name, value):
    subprocess.run([WINE, "reg", "add", MOUSE_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                   env=env.base, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def scenario_mouse_setting_unreadable(env):
    # A four-character height cannot be read: message 1054, owned by the run like every message
    # of the run, and the run goes on.
    before = mouse_value(env, "DoubleClickHeight") or "4"
    set_mouse_value(env, "DoubleClickHeight", "1000")
    frame = serve_frame(env, 3, touch="manual")
    program = Program(env, frame.port)
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
    # The program alone in a folder of its own: neither module is found.
    import shutil
    import tempfile
    folder = tempfile.mkdtemp(prefix="kelvane-alone-")
    shutil.copy(os.path.join(env.bin, "Kelvane.exe"), folder)
    run_env = dict(env.base)
    run_env["TACTRA_FRAME_SIM"] = "127.0.0.1:%d" % free_port()
    proc = subprocess.Popen([WINE, "Kelvane.exe", "0"], cwd=folder, env=run_env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        out = probe_box(env, None, 15000)
        check("caption=Error" in out, "caption: %s" % out)
        check("text=Cannot find language file: KelvaneLangEN.dll" in out, "text: %s" % out)
        proc.wait(15)
        return "fixed English message naming the module"
    finally:
        if proc.poll() is None:
            proc.kill()
        shutil.rmtree(folder, ignore_errors=True)


# The transports each scenario runs over. Over the virtual frame: the runs that show the frame's
# traffic and plug-and-play end to end; the frame's own faults and the program's local failures
# do not depend on the transport.
BOTH, SIM = ("sim", "vframe"), ("sim",)
SCENARIOS = [
    ("mode 4, English, OK", scenario_mode4_ok, BOTH),
    ("mode 3, Chinese, Escape", scenario_mode3_chinese_cancel, BOTH),
    ("mode 2, English, OK", scenario_mode2_ok, BOTH),
    ("no touch: time-out", scenario_no_touch, SIM),
    ("no frame", scenario_no_frame, BOTH),
    ("unplugged during the run", scenario_unplug, BOTH),
    ("mode 2, corners on a line", scenario_degenerate_fit, SIM),
    ("CMD_CAL_BEGIN refused", scenario_begin_refused, SIM),
    ("mouse setting unreadable", scenario_mouse_setting_unreadable, SIM),
    ("language module missing", scenario_module_missing, SIM),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--native-bin", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--only", default="")
    add_arguments(parser)
    args = parser.parse_args()
    env = Env(args)
    for tool in (env.framesim, env.expected_tool):
        if not os.access(tool, os.X_OK):
            print("missing %s: build the native tree first (scripts/build native)" % tool)
            return 1
    try:
        env.prepare_prefix()
    except Failure as e:
        print("FAIL  %s" % e)
        return 1
    print("transport: %s" % env.transport.name, flush=True)
    failures = 0
    for name, run, transports in SCENARIOS:
        if (args.only and args.only not in name) or env.transport.name not in transports:
            continue
        began = time.time()
        try:
            note = run(env)
            print("PASS  %-28s %5.1f s  %s" % (name, time.time() - began, note or ""), flush=True)
        except Exception as e:  # a failed scenario must not stop the others
            failures += 1
            print("FAIL  %-28s %5.1f s  %s" % (name, time.time() - began, e), flush=True)
            if not isinstance(e, Failure):
                traceback.print_exc()
            screenshot(env, "failure-%s.png" % name.split(",")[0].replace(" ", "-"))
    print("%d scenario(s) failed" % failures if failures else "all scenarios passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

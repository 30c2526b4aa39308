#!/usr/bin/env python3
"""The demo (harness.py): the simulated frame with an auto-touching finger, the console against it
showing what the frame reports, and the calibration program started from the console's calibration
page, which calibrates the frame and keeps the result. Lists what the frame received and ends with
one line that sums the run up; exits 1, saying why in one line, when a step does not happen.

Run by scripts/demo, under scripts/with-wine.
"""

import argparse
import contextlib
import glob
import os
import re
import signal
import subprocess
import sys
import time

from console_common import CAL, Console, Started
from console_ids import IDC_CAL_START
from harness import CAL_CHANNEL, SETTINGS_CHANNEL, Env, Failure, Frame, poll

GET_MODE, BEGIN, WRITE_RESULT, END = 0x01, 0x03, 0x04, 0x05
WM_CLOSE = 0x10
TARGETS = {2: 4, 3: 5, 4: 9}
NAMES = {
    CAL_CHANNEL: {GET_MODE: "CMD_CAL_GET_MODE", BEGIN: "CMD_CAL_BEGIN", WRITE_RESULT: "CMD_CAL_WRITE_RESULT",
                  END: "CMD_CAL_END"},
    SETTINGS_CHANNEL: {0xF2: "CMD_INFO_TEXT_F2", 0xF3: "CMD_INFO_TEXT_F3", 0xF4: "CMD_INFO_TEXT_F4",
                       0xF5: "CMD_INFO_TEXT_F5", 0x01: "CMD_INFO_01", 0x02: "CMD_INFO_LISTS", 0x11: "CMD_CFG_11",
                       0x12: "CMD_CFG_12", 0x13: "CMD_CAL_OPTION_13", 0x14: "CMD_CFG_14", 0x15: "CMD_CFG_15",
                       0x16: "CMD_CFG_16", 0x17: "CMD_CFG_17", 0x21: "CMD_CFG_21"},
}


def say(text):
    print("demo: %s" % text, flush=True)


def codes(frame):
    """The codes of the calibration commands the frame received, in order (one dump)."""
    return [c for c, _ in frame.calibration_commands()]


def s16(lo, hi):
    v = lo | hi << 8
    return v - 65536 if v >= 32768 else v


def list_received(dump):
    say("the frame received:")
    for r in dump["received"]:
        b = bytes.fromhex(r["report"])
        name = NAMES.get(r["channel"], {}).get(b[1], hex(b[1]))
        print("  channel %d  %-22s payload %s" % (r["channel"], name, b[3:3 + b[2]].hex(" ")))


def summary(dump):
    """What the frame keeps must be the result it was sent, kept by CMD_CAL_END [1]."""
    sent = [bytes.fromhex(r["report"]) for r in dump["received"] if r["channel"] == CAL_CHANNEL]
    result = [b[3:3 + b[2]] for b in sent if b[1] == WRITE_RESULT][-1]
    end = [b[3] for b in sent if b[1] == END]
    record = bytes.fromhex(dump["record"])
    mode = dump["mode"]
    if end != [1]:
        raise Failure("the run did not end with CMD_CAL_END [1] (it sent %s)" % end)
    if record[0] != mode or record[5:5 + len(result)] != result:
        raise Failure("the frame does not keep the result it was sent")
    if mode == 2:
        kept = "coefficients " + " ".join(str(s16(record[5 + 2 * i], record[6 + 2 * i])) for i in range(6))
    else:
        kept = "points " + " ".join("(%d,%d)" % (record[5 + 4 * i] | record[6 + 4 * i] << 8,
                                                record[7 + 4 * i] | record[8 + 4 * i] << 8) for i in range(9))
    return "done: mode %d, %d targets; the frame keeps %s" % (mode, TARGETS.get(mode, 0), kept)


def start_console(env, frame, args):
    """The console up with its information page shown; says why it is not otherwise."""
    log_path = os.path.join(env.artifacts, "wine.log")
    with open(log_path, "wb") as log:
        console = Console(env, frame.port, (args.lang,), output=log)
    if not console.wait_ready(30):
        code = console.proc.poll()
        if code is None:
            code = 0
        with open(log_path, errors="replace") as f:
            lines = f.read().splitlines()
        reason = next((line for line in lines if re.search(r"error|cannot|not found", line, re.I)),
                      lines[-1] if lines else "")
        console.kill()
        raise Failure("Wine could not start TactraConsole.exe (exit %d): %s" % (code, reason))
    return console


def run(env, args):
    def shoot(name):
        # Quiet, as a screenshot is only a keepsake: the run goes on without it.
        if args.headless:
            subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root",
                            os.path.join(env.artifacts, name + ".png")], stderr=subprocess.DEVNULL, check=False,
                           timeout=20)

    def probe(*argv):
        code, out = console.probe(*argv)
        if code != 0:
            raise Failure("window_probe %s found no console (%s)" % (" ".join(argv), console.state()))
        return out

    try:
        frame = Frame(env, args.mode, touch="auto", screen=args.screen)
    except Failure:
        raise Failure("the simulated frame did not start")
    console = None
    try:
        say("simulated frame on 127.0.0.1:%d, mode %d, screen %dx%d, auto finger" %
            ((frame.port, args.mode) + args.screen))
        say("starting TactraConsole.exe %s (%s-bit build) under Wine" % (args.lang, args.arch))
        console = start_console(env, frame, args)
        controls = console.show()[1]
        say("the console says: %s" % controls.get(("main", 1020), {}).get("text", ""))
        say("the frame reports itself as: %s" % controls.get(("info", 1053), {}).get("text", ""))
        shoot("console-information")
        for tab in (1, 2):
            probe("tab", str(tab))
            time.sleep(1.5)
            shoot("console-tab%d" % tab)

        say("starting the calibration from the console's calibration page")
        probe("click", CAL, str(IDC_CAL_START))
        if not frame.wait_for(BEGIN, 15):
            raise Failure("the calibration program did not start from the console")

        seen = []
        deadline = time.time() + args.limit
        shot = 0
        while time.time() < deadline:
            time.sleep(2)
            shot += 1
            shoot("run-%02d" % shot)
            seen = codes(frame)
            if WRITE_RESULT in seen:
                say("the result was written; keeping it (Enter)")
                time.sleep(2)
                shoot("complete")
                kelvane = Started("Kelvane.exe", frame.port)
                windows = kelvane.visible_windows()
                if windows:
                    kelvane.key_to(windows[0][0], "Return")
                break
            if END in seen:  # the run ended without a result
                break
        if WRITE_RESULT not in seen:
            if END in seen:
                raise Failure("the calibration program ended before the frame received a calibration result")
            raise Failure("no calibration result reached the frame within %d s" % args.limit)
        if not poll(lambda: END in codes(frame), 20, 0.5):
            raise Failure("the calibration program did not end after Enter")
        time.sleep(1)
        console.probe("post", "0x%x" % WM_CLOSE, "0", "0")
        console.wait_exit(10)
        console.kill()

        dump = frame.dump()
        list_received(dump)
        if args.headless:
            say("screenshots in %s" % env.artifacts)
        say(summary(dump))
    finally:
        if console:
            console.kill()
        # A run the demo gave up on would stay on the screen.
        for pid in Started("Kelvane.exe", frame.port).pids():
            with contextlib.suppress(OSError):
                os.kill(int(pid), signal.SIGKILL)
        frame.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--native-bin", required=True)
    parser.add_argument("--artifacts", required=True, help="the screenshots and Wine's output")
    parser.add_argument("--arch", required=True, help="32 or 64: the Windows build, as told")
    parser.add_argument("--mode", type=int, default=3)
    parser.add_argument("--lang", default="0")
    parser.add_argument("--limit", type=int, default=90, help="seconds the run may take to a result")
    parser.add_argument("--screen", type=lambda s: tuple(int(n) for n in s.split("x")), default=(1024, 768))
    parser.add_argument("--headless", action="store_true", help="take screenshots of the display")
    args = parser.parse_args()
    env = Env(args)
    for old in glob.glob(os.path.join(env.artifacts, "*.png")):
        os.remove(old)
    try:
        run(env, args)
    except Failure as e:
        say("FAILED: %s" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Measures, under Wine against the simulated frame, what the programs cost a user in time:
how long each ends after its window is asked to close, how long an export takes from the file
dialog's OK to the file, and each program's own share of its start-up (WinMain to what the user
first sees, less the fixed pauses), beside what Wine itself takes to a process's first dialog.
Prints figures; it fails only when a program does not work.

Run by hand: scripts/measure-timings [--starts N]
"""

import os
import statistics
import sys
import tempfile
import time

from console_e2e import (CAL, FIXED_PAUSES_MS, SAVE_TITLE, Console, answer_file_dialog, console_up,
                         open_calibration_page, reset_registry)
from console_ids import IDC_CAL_EXPORT
from harness import Frame, check, run_scenarios, run_windows, startup_overhead
from kelvane_e2e import FIXED_PAUSES_MS as KELVANE_PAUSES_MS
from kelvane_e2e import Kelvane

WM_CLOSE = 0x10
STARTS = int(os.environ.get("TACTRA_TIMING_STARTS", "10"))


def spread(values):
    values = [v for v in values if v is not None]
    if not values:
        return "no figures"
    return "median %.0f ms, min %.0f, max %.0f (%d)" % (statistics.median(values), min(values), max(values),
                                                         len(values))


def measure_console_close(env):
    window_gone, process_gone = [], []
    for _ in range(3):
        with console_up(env) as (frame, console):
            asked = time.time()
            console.probe("post", str(WM_CLOSE), "0", "0")
            while console.probe("show")[0] == 0 and time.time() - asked < 15:
                time.sleep(0.01)
            window_gone.append((time.time() - asked) * 1000)
            check(console.wait_exit(20), "the console did not end")
            process_gone.append((time.time() - asked) * 1000)
    return "window gone: %s; process ended: %s" % (spread(window_gone), spread(process_gone))


def measure_kelvane_close(env):
    ended = []
    for _ in range(3):
        frame = Frame(env, 3, touch="manual")
        program = Kelvane(env, frame.port)
        try:
            wid = program.window()
            time.sleep(1.5)  # the opening conversation is over
            asked = time.time()
            program.key_to(wid, "Escape")
            check(program.wait_exit(20), "the calibration program did not end")
            # Less the fixed pause before closing.
            ended.append((time.time() - asked) * 1000 - 500)
        finally:
            program.kill()
            frame.stop()
    return "process ended beyond the 500 ms pause: %s" % spread(ended)


def measure_export(env):
    taken = []
    for i in range(3):
        with console_up(env) as (frame, console):
            open_calibration_page(console, frame)
            folder = tempfile.mkdtemp(prefix="timing-", dir=env.artifacts)
            path = os.path.join(folder, "export%d.ini" % i)
            console.probe("click", CAL, str(IDC_CAL_EXPORT))
            # From the OK, as the user sees it: the dialog going is part of the wait.
            pressed = answer_file_dialog(console, SAVE_TITLE, path)
            while not os.path.exists(path) and time.time() - pressed < 10:
                time.sleep(0.005)
            check(os.path.exists(path), "no file written")
            taken.append((time.time() - pressed) * 1000)
    return "file on disk after OK: %s" % spread(taken)


def startup_shares(env, name, start, shown, step, pauses_ms):
    """The program's own share of STARTS start-ups: from WinMain to `step`, less its pauses.
    `start(frame, log)` starts the program, `shown(program)` waits until it shows `step`."""
    shares = []
    for i in range(STARTS):
        frame = Frame(env, 3, touch="manual")
        log = os.path.join(env.artifacts, "timing-%s-%d.log" % (name, i))
        program = start(frame, log)
        try:
            shown(program)
            shares.append(startup_overhead(log, step, pauses_ms) - (startup_overhead(log, "winmain", 0) or 0))
        finally:
            program.kill()
            frame.stop()
    return spread(shares)


def measure_console_startup(env):
    def start(frame, log):
        reset_registry(env, 0)
        return Console(env, frame.port, startup_log=log)

    def shown(console):
        check(console.wait_ready(), "the console did not come up")
        time.sleep(0.3)

    return "WinMain to the information shown, less pauses: %s" % startup_shares(
        env, "console", start, shown, "information-shown", FIXED_PAUSES_MS)


def measure_kelvane_startup(env):
    def shown(program):
        program.window()
        time.sleep(1.0)

    return "WinMain to the first target, less pauses: %s" % startup_shares(
        env, "kelvane", lambda frame, log: Kelvane(env, frame.port, startup_log=log), shown, "first-target",
        KELVANE_PAUSES_MS)


def measure_first_dialog(env):
    taken = []
    for _ in range(STARTS):
        code, out = run_windows(env, ["first_dialog_probe.exe"])
        check(code == 0 and "first-dialog-ms=" in out, "the probe did not run: %r" % out)
        taken.append(float(out.split("first-dialog-ms=")[1].split()[0]))
    return "main to the first, empty dialog (Wine's own share in both): %s" % spread(taken)


MEASUREMENTS = [
    ("Wine's first dialog", measure_first_dialog),
    ("console close", measure_console_close),
    ("calibration program close", measure_kelvane_close),
    ("export", measure_export),
    ("console start-up share", measure_console_startup),
    ("calibration program start-up share", measure_kelvane_startup),
]

if __name__ == "__main__":
    sys.exit(run_scenarios(MEASUREMENTS))

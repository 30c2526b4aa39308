#!/usr/bin/env python3
"""A soak under Wine and Xvfb (harness.py): one console process through many page refreshes and
unplug/plug cycles, then calibration runs in a row against the same frame. What the console holds
must stay flat once the first cycles are behind it; each calibration run must end cleanly.

What is compared (window_probe.exe WINDOW resources): the process's handles (GetProcessHandleCount,
or the system's list of open handles where that call answers 0, as under Wine 8), its GDI and USER
objects (GetGuiResources: Wine 8 keeps no count and says so, "-"; the bound then applies where a
count is given), its windows, and its private bytes (under Wine its resident anonymous memory).

The short form runs by default (CI); TACTRA_SOAK=full runs the full one. Every sample, the bounds and
the verdict go to the artifacts folder (soak-<transport>.json).
"""

import collections
import json
import os
import subprocess
import sys
import time

from console_e2e import CONFIG_READS, FRAME_INFO, INFO_REQUESTS, Console, close_with_escape, reset_registry
from harness import (BOTH, CAL_CHANNEL, Frame, check, grid_points_payload, run_scenarios, tools_present,
                     wait_until)
from kelvane_e2e import BEGIN, BUTTON_FILL, END, GET_MODE, SCREEN, WRITE_RESULT, Kelvane, wait_colour

Form = collections.namedtuple("Form", "refreshes cycles runs")
FORMS = {"short": Form(60, 6, 3), "full": Form(1000, 100, 20)}
# The first cycles are the warm-up: the pages are made on their first visit, the link's buffers and
# the heap grow to their working size on the first unplug, the first run is the first foreign
# traffic the console's readers see. The start sample follows them.
WARM_UP = Form(9, 2, 1)

# How far a figure may grow from the start sample to the end. Once warm, the console's figures
# move by a handle (an event the link makes anew while it binds) and by well under 100 KiB of heap
# over the whole full form, and do not drift. A leak of a handle or a window per refresh passes
# these bounds within the short form; a leak of one per unplug/plug cycle, or of about 1 KiB per
# refresh, within the full form.
BOUNDS = {"handles": 10, "gdi": 10, "user": 10, "windows": 5, "private": 1024 * 1024}
FIGURES = ("handles", "gdi", "user", "windows", "private")

# The console's device pages in the order the refreshes visit them, from the information page on
# which the console starts: (tab, the reports its sequence sends the frame).
PAGES = ((1, len(CONFIG_READS)), (2, 2), (0, len(INFO_REQUESTS)))
KELVANE_TITLE = "Touch frame calibration"


def form():
    name = os.environ.get("TACTRA_SOAK", "short")
    check(name in FORMS, "TACTRA_SOAK=%s: short or full" % name)
    return name, FORMS[name]


def resources(env, window):
    """{figure: value or None where the system does not tell} of the process of a window."""
    code, out = env.probe(window, "resources")
    check(code == 0, "no resources of %s: %s" % (window, out.strip()))
    fields = dict(part.split("=", 1) for part in out.split())
    return {k: None if fields[k] == "-" else int(fields[k]) for k in FIGURES}


def received(frame, count, timeout_ms):
    """Whether the frame has received `count` reports since it started, within the time."""
    out = subprocess.run([frame.env.framesim, "ctl", "--port", str(frame.port), "wait-received", str(count),
                          "--timeout", str(timeout_ms)], capture_output=True, timeout=timeout_ms / 1000 + 20)
    return out.returncode == 0


class Soak:
    def __init__(self, env, frame, console):
        self.env, self.frame, self.console = env, frame, console
        self.sent = frame.dump()["received_count"]  # what the frame should have received by now
        self.samples = []
        self.began = time.time()
        self.refreshes = self.cycles = self.runs = 0
        self.tab_changes_again = 0
        self.kelvane = []

    def sample(self, label):
        time.sleep(0.5)  # what the last operation freed is freed by then
        figures = resources(self.env, "#" + self.console.handle)
        self.samples.append(dict(figures, label=label, seconds=round(time.time() - self.began, 1)))
        return figures

    def refresh(self):
        """The next device page, selected: its sequence runs again; returns once the frame has every
        report of it. A tab change that comes while the last sequence still waits for its reply
        is refused, and is made again."""
        tab, reports = PAGES[self.refreshes % len(PAGES)]
        self.sent += reports
        for attempt in range(3):
            self.console.probe("tab", str(tab))
            if received(self.frame, self.sent, 3000):
                self.refreshes += 1
                self.tab_changes_again += attempt
                return
        check(False, "refresh %d: tab %d did not read" % (self.refreshes + 1, tab))

    def check_pages(self):
        """The frame received what the refreshes sent and no more, and the information page, read
        once more, shows the frame's values."""
        time.sleep(0.5)
        count = self.frame.dump()["received_count"]
        check(count == self.sent, "the frame received %d reports, the refreshes sent %d" % (count, self.sent))
        while True:
            self.refresh()
            if PAGES[(self.refreshes - 1) % len(PAGES)][0] == 0:
                break
        time.sleep(0.5)
        shown = self.console.texts("info", FRAME_INFO.keys())
        check(shown == FRAME_INFO, "after %d refreshes the information page shows %s" % (self.refreshes, shown))

    def cycle(self, connected):
        self.frame.ctl("unplug")
        wait_until(lambda: self.console.status() != connected, 10, "cycle %d: no removal" % (self.cycles + 1))
        self.frame.ctl("plug")
        wait_until(lambda: self.console.status() == connected, 20, "cycle %d: no arrival" % (self.cycles + 1))
        self.cycles += 1

    def calibration_run(self):
        """One Kelvane run to its end, the result kept, while the console stays up: the run's four
        commands and nothing else reach the frame, and the program ends by itself with 0."""
        n = self.runs + 1
        mark = self.frame.dump()["received_count"]
        program = Kelvane(self.env, self.frame.port)
        try:
            program.window()
            check(received(self.frame, mark + 3, 60000), "run %d: no result within 60 s" % n)
            check(wait_colour(self.env, BUTTON_FILL, (0, 0) + SCREEN, 10, "soak-run.png"),
                  "run %d: the buttons did not appear" % n)
            self.kelvane.append(resources(self.env, KELVANE_TITLE))
            program.key("Return")
            check(program.wait_exit(20), "run %d: the program did not end after Return" % n)
            check(program.proc.returncode == 0, "run %d: exit code %d" % (n, program.proc.returncode))
        finally:
            program.kill()
        sent = self.frame.since(mark)
        check(all(channel == CAL_CHANNEL for channel, _ in sent), "run %d: reports on other channels" % n)
        commands = [(b[1], b[3:3 + b[2]]) for _, b in sent]
        check([c for c, _ in commands] == [GET_MODE, BEGIN, WRITE_RESULT, END], "run %d: commands %s" % (n, commands))
        check(commands[2][1] == grid_points_payload() and commands[3][1] == b"\x01",
              "run %d: result %s, end %s" % (n, commands[2][1].hex(), commands[3][1].hex()))
        check(not program.visible_windows(), "run %d: a window stayed" % n)
        self.sent = mark + 4
        self.runs += 1


def grown(start, end):
    """{figure: growth} of the figures beyond their bound; figures a system does not tell are left out."""
    return {k: end[k] - start[k] for k in FIGURES
            if start[k] is not None and end[k] is not None and end[k] - start[k] > BOUNDS[k]}


def describe(start, end):
    def one(k):
        if start[k] is None or end[k] is None:
            return "%s not kept" % k
        if k == "private":
            return "private %.2f->%.2f MiB" % (start[k] / 1048576, end[k] / 1048576)
        return "%s %d->%d" % (k, start[k], end[k])
    return ", ".join(one(k) for k in FIGURES)


def scenario_soak(env):
    name, full = form()
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
        connected = console.status()
        soak = Soak(env, frame, console)
        soak.sample("up")
        for _ in range(WARM_UP.refreshes):
            soak.refresh()
        for _ in range(WARM_UP.cycles):
            soak.cycle(connected)
        soak.check_pages()
        for _ in range(WARM_UP.runs):
            soak.calibration_run()
        start = soak.sample("warm")

        while soak.refreshes < full.refreshes:
            soak.refresh()
            if soak.refreshes % 100 == 0:
                soak.sample("refresh %d" % soak.refreshes)
        soak.check_pages()
        soak.sample("refreshes done")
        while soak.cycles < full.cycles:
            soak.cycle(connected)
            if soak.cycles % 10 == 0:
                soak.sample("cycle %d" % soak.cycles)
        soak.check_pages()
        soak.sample("cycles done")
        while soak.runs < full.runs:
            soak.calibration_run()
        end = soak.sample("end")
        over = grown(start, end)

        with open(os.path.join(env.artifacts, "soak-%s.json" % env.transport.name), "w") as f:
            json.dump({"form": name, "done": Form(soak.refreshes, soak.cycles, soak.runs)._asdict(),
                       "warm_up": WARM_UP._asdict(), "bounds": BOUNDS, "start": start, "end": end,
                       "samples": soak.samples, "kelvane_at_result": soak.kelvane, "grown_beyond_bound": over,
                       "tab_changes_made_again": soak.tab_changes_again,
                       "seconds": round(time.time() - soak.began, 1)}, f, indent=1)
        note = "%s form, %d refreshes, %d cycles, %d runs: %s" % (
            name, soak.refreshes, soak.cycles, soak.runs, describe(start, end))
        print("  " + note, flush=True)
        check(not over, "grew beyond its bound %s: %s" % (over, describe(start, end)))
        close_with_escape(console)
        return note
    finally:
        console.kill()
        frame.stop()


SCENARIOS = [
    ("soak", scenario_soak, BOTH),
]


def prepare(env):
    if not tools_present(env, "window_probe.exe", "TactraConsole.exe", "Kelvane.exe"):
        return False
    env.reg_add_dword(r"HKLM\Software\Tactra\GlobalSettings", "Language", 0)
    env.settle()
    return True


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

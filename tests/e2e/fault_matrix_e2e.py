#!/usr/bin/env python3
"""The console against a frame that fails, one command at a time, in every way a frame can fail
(harness.py, console_e2e.py).

Rows are the commands the sequences of the three device pages send (a tab's reads, Apply,
Default, the factory calibration, export and import); columns are the ways the frame fails that one command: it
keeps silent, refuses, breaks the reply's terminator or its length, answers 2.5 s late, answers
twice, stops taking reports on that command's channel, or is unplugged while that command waits.
Each cell runs the sequence once and checks that
- the page shows what a failure of that command leads to (its message, greyed controls,
  placeholders) and nothing else,
- the window answers within 1 s of the time the sequence may take (its pauses, and a full wait
  for each reply that cannot come),
- the frame received exactly the requests the page should send, each write carrying only values
  the page showed or the user set, and kept no setting the user did not set.
The table goes to the artifacts folder. The short form (one command of each sequence) runs in
CI; the full form: fault_matrix_e2e.py ... --only "full".
"""

import os
import subprocess
import sys
import tempfile
import time

from console_e2e import (CAL, CAL_ACTIONS, CONFIG_IDS, CONFIG_READS, FRAME_INFO, GREYED_SHOWN, HAND_POINTS,
                         MODE_BUTTONS, OPEN_TITLE, OPTION_BUTTONS, PLACEHOLDERS, SAVE_FAILED,
                         SAVE_TITLE, Console, answer_file_dialog, calibration_file, calibration_page, report,
                         reset_registry, settings_report, wine_version)
from console_common import calibration_page_answered
from console_ids import (CONSOLE_MODULE_EN, IDC_CAL_APPLY, IDC_CAL_EXPORT, IDC_CAL_FACTORY, IDC_CAL_IMPORT,
                         IDC_CFG_11, IDC_CFG_12A, IDC_CFG_12B, IDC_CFG_12C, IDC_CFG_14_LEVEL, IDC_CFG_14_ON,
                         IDC_CFG_14_TIME, IDC_CFG_15_LEVEL, IDC_CFG_15_ON, IDC_CFG_15_TIME, IDC_CFG_16_ON,
                         IDC_CFG_16_SPIN, IDC_CFG_16_TEXT, IDC_CFG_17A, IDC_CFG_17B, IDC_CFG_17C, IDC_CFG_17D,
                         IDC_CFG_21_A, IDC_CFG_21_B, IDC_CFG_21_ON, IDC_CFG_APPLY, IDC_CFG_DEFAULT, IDC_INFO_COUNT_A,
                         IDC_INFO_COUNT_B, IDC_INFO_LIST_A, IDC_INFO_LIST_B, IDC_INFO_TEXT_F2, IDC_INFO_TEXT_F3,
                         IDC_INFO_TEXT_F4, IDC_INFO_TEXT_F5, IDC_INFO_VALUE_01, IDC_TABS, IDS_REFUSED)
from harness import (CAL_CHANNEL, SETTINGS_CHANNEL, Failure, Frame, check, poll, run_scenarios, run_windows,
                     tools_present)

WAIT_S = 2.0  # the console's wait for a reply
READ_PAUSE, WRITE_PAUSE, REREAD_PAUSE = 0.02, 0.03, 0.1
ANSWERED_S = 0.05  # an answered request, reply and hand-over included
ANSWER_WITHIN_S = 1.0

# The ways a command fails: the fault set for it, whether its reply is lost to the wait, refused
# or as usual, and whether the frame carries the command out.
KINDS = [
    ("silent", ("silent",), "lost", False),
    ("refuse", ("refuse",), "refused", False),
    ("terminator", ("malformed", "terminator"), "lost", True),
    ("length", ("malformed", "length"), "lost", True),
    ("delay 2.5s", ("delay", "2500"), "lost", True),
    ("duplicate", ("duplicate",), "normal", True),
    ("stall", None, "lost", False),
    ("unplug", None, "lost", True),
]
KIND_NAMES = [k[0] for k in KINDS]
# How long the command before a stalled one is held back, so that the stall begins between the
# two; how long a command waits in the frame while it is unplugged.
STALL_GAP_MS, UNPLUG_HOLD_MS = 600, 1500

TABLE_A = [3, 5, 10, 20, 30, 45, 60, 90, 120, 180]
TABLE_B = [100, 200, 300, 500, 750, 1000, 1500, 2000]
# The controls of each setting of the configuration page (the edit box goes with IDC_CFG_16_SPIN).
SETTING_CONTROLS = {0x11: [IDC_CFG_11], 0x12: [IDC_CFG_12A, IDC_CFG_12B, IDC_CFG_12C],
                    0x16: [IDC_CFG_16_ON, IDC_CFG_16_SPIN], 0x17: [IDC_CFG_17A, IDC_CFG_17B, IDC_CFG_17C, IDC_CFG_17D],
                    0x21: [IDC_CFG_21_ON, IDC_CFG_21_A, IDC_CFG_21_B],
                    0x15: [IDC_CFG_15_ON, IDC_CFG_15_TIME, IDC_CFG_15_LEVEL],
                    0x14: [IDC_CFG_14_ON, IDC_CFG_14_TIME, IDC_CFG_14_LEVEL]}
# A read the frame refuses carries 0 as its first value: what the setting's controls show then
# ((item or position, enabled); None: as before).
REFUSED_READ = {0x11: {IDC_CFG_11: (0, 1)}, 0x12: {IDC_CFG_12A: (1, 1)},
                0x16: {IDC_CFG_16_ON: (1, 1), IDC_CFG_16_SPIN: (None, 0)}, 0x17: {IDC_CFG_17A: (None, 0)},
                0x21: {IDC_CFG_21_ON: (1, 1), IDC_CFG_21_A: (None, 0), IDC_CFG_21_B: (None, 0)},
                0x15: {IDC_CFG_15_ON: (1, 1), IDC_CFG_15_TIME: (None, 0), IDC_CFG_15_LEVEL: (None, 0)},
                0x14: {IDC_CFG_14_ON: (1, 1), IDC_CFG_14_TIME: (None, 0), IDC_CFG_14_LEVEL: (None, 0)}}
# The information page's fields each request fills.
INFO_FIELDS = {0xF2: [IDC_INFO_TEXT_F2], 0xF3: [IDC_INFO_TEXT_F3], 0xF4: [IDC_INFO_TEXT_F4], 0xF5: [IDC_INFO_TEXT_F5],
               0x01: [IDC_INFO_VALUE_01],
               0x02: [IDC_INFO_COUNT_A, IDC_INFO_LIST_A, IDC_INFO_COUNT_B, IDC_INFO_LIST_B]}
SWITCHED = (0x16, 0x21, 0x15, 0x14)  # the settings whose first value switches the others on
SETTING_KEYS = {0x11: "cfg11", 0x12: "cfg12", 0x16: "cfg16", 0x17: "cfg17", 0x21: "cfg21", 0x15: "cfg15",
                0x14: "cfg14"}


class Step:
    def __init__(self, channel, code, pause, name=None):
        self.channel, self.code, self.pause = channel, code, pause
        self.name = name or "%02X" % code

    def target(self):
        """The fault's name of this command, on its channel only."""
        return "%d:0x%02x" % (6 if self.channel == CAL_CHANNEL else 7, self.code)


class Matrix:
    """The frame, the console and what the cells share."""

    def __init__(self, env, frame, console, folder):
        self.env, self.frame, self.console = env, frame, console
        self.folder = folder  # the calibration files of export and import
        self.connected = console.status()
        dump = frame.dump()
        self.factory, self.factory_record = dump["settings"], dump["record"]

    def ctl(self, *argv):
        return subprocess.run([self.env.framesim, "ctl", "--port", str(self.frame.port), *argv],
                              capture_output=True, text=True, timeout=30)

    def wait_received(self, count, timeout):
        return self.ctl("wait-received", str(count), "--timeout", str(int(timeout * 1000))).returncode == 0

    def tab(self, tab, reads=0):
        """Selects a tab as the user does (again while a sequence under way refuses the change: once
        the tab is selected, none is) and waits until its page shows what its reads told."""
        mark = self.frame.mark()

        def selected():
            self.console.probe("tab", str(tab))
            return self.console.show()[1][("main", IDC_TABS)]["selected"] == str(tab)
        check(poll(selected, 10, 0.05), "tab %d was not selected" % tab)
        if not reads:
            return
        check(self.wait_received(mark + reads, 10), "tab %d did not read" % tab)
        check(poll(lambda: self.shows_frame(tab), 10, 0.05), "tab %d does not show the frame's values (%s)" % (
            tab, self.differences(tab)))
        # Its sequence ends with the last read's pause.
        time.sleep(ANSWERED_S + READ_PAUSE)

    def shows_frame(self, tab):
        return calibration_page_answered(self.console, self.frame) if tab == 2 else not self.differences(tab)

    def differences(self, tab):
        """What the page shows that differs from the frame's values: {code: (shown, held)}."""
        if tab == 2:
            return calibration_page(self.console)[:2], (self.frame.dump()["option13"], self.frame.dump()["mode"])
        view, edit = self.config_view()
        settings = self.frame.dump()["settings"]
        shown = {code: (view_values(view, edit, code), frame_values(settings, code)) for code in SETTING_KEYS}
        # A value behind a switch that is off is not told.
        told = {code: (a[:1], b[:1]) if code in SWITCHED and b[0] == 0 else (a, b) for code, (a, b) in shown.items()}
        return {code: pair for code, pair in told.items() if pair[0] != pair[1]}

    def open_page(self, tab, reads):
        """Comes to a page from the options tab, so that its sequence runs anew, and waits for it."""
        self.tab(3)
        self.tab(tab, reads)

    def replug(self):
        """The frame out and in again: the console forgets what it told."""
        self.ctl("unplug")
        check(poll(lambda: self.console.status() != self.connected, 10, 0.1), "the removal was not noticed")
        self.ctl("plug")
        check(poll(lambda: self.console.status() == self.connected, 10, 0.1), "the frame was not found again")

    def boxes(self, expected):
        """Closes every message box that comes; their text ids, or the text of one that is not a
        string of the language module."""
        ids = []
        wait = 3000 if expected else 600
        while len(ids) < 6:
            code, out = run_windows(self.env, ["msgbox_probe.exe", str(wait), CONSOLE_MODULE_EN])
            if code != 0:
                return ids
            fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
            text_id = next((int(p.split("=")[1]) for p in out.split() if p.startswith("text-id=")), 0)
            ids.append(text_id or fields.get("text"))
            wait = 400
        return ids

    def config_view(self):
        """{id: (item or position, enabled)} of the configuration page, with its hidden lists, and
        the edit box's (text, enabled)."""
        controls = self.console.show()[1]
        view = {}
        for i in CONFIG_IDS + [IDC_CFG_17C, IDC_CFG_17D]:
            c = controls[("config", i)]
            view[i] = (int(c.get("selected", c.get("position", -1))), int(c["enabled"]))
        edit = controls[("config", IDC_CFG_16_TEXT)]
        return view, (edit["text"], int(edit["enabled"]))


# What the configuration page's controls mean as the values of a write, and the same of the
# frame's settings ------------------------------------------------------------------------------

def be16(v):
    return [v >> 8 & 0xFF, v & 0xFF]


def view_values(view, edit, code):
    on = lambda i: 1 if view[i][0] == 0 else 0  # noqa: E731
    pos = lambda i: view[i][0]  # noqa: E731
    if code == 0x11:
        return [2 if pos(IDC_CFG_11) == 1 else 1]
    if code == 0x12:
        return [on(IDC_CFG_12A), on(IDC_CFG_12B), on(IDC_CFG_12C)]
    if code == 0x16:
        return [on(IDC_CFG_16_ON), int(edit[0]) & 0xFF]
    if code == 0x17:
        return [pos(IDC_CFG_17A), pos(IDC_CFG_17B), pos(IDC_CFG_17C) + 1, pos(IDC_CFG_17D) + 1]
    if code == 0x21:
        return [on(IDC_CFG_21_ON)] + be16(TABLE_A[pos(IDC_CFG_21_A)]) + be16(TABLE_B[pos(IDC_CFG_21_B)])
    if code == 0x15:
        return [on(IDC_CFG_15_ON), pos(IDC_CFG_15_LEVEL) + 1] + be16((pos(IDC_CFG_15_TIME) + 1) * 500)
    if code == 0x14:
        return [on(IDC_CFG_14_ON), pos(IDC_CFG_14_LEVEL) + 1] + be16((pos(IDC_CFG_14_TIME) + 1) * 100)
    raise ValueError(code)


def frame_values(settings, code):
    """The values of a setting as the frame holds it, in a write's order."""
    s = settings[SETTING_KEYS[code]]
    if code == 0x11:
        return [s]
    if code in (0x12, 0x17):
        return list(s)
    if code == 0x16:
        return [s["enabled"], s["value"] & 0xFF]
    if code == 0x21:
        return [s["enabled"]] + be16(s["a"]) + be16(s["b"])
    return [s["enabled"], s["level"]] + be16(s["time"])


def taken(settings, code, values):
    """The frame's settings after it took a write of `values`: switched off, only the switch."""
    after = dict(settings)
    key = SETTING_KEYS[code]
    if code == 0x11:
        after[key] = values[0]
    elif code in (0x12, 0x17):
        after[key] = list(values)
    elif code == 0x16:
        after[key] = {"enabled": values[0], "value": values[1] if values[0] else settings[key]["value"]}
    elif code == 0x21:
        old = settings[key]
        after[key] = {"enabled": values[0], "a": (values[1] << 8 | values[2]) if values[0] else old["a"],
                      "b": (values[3] << 8 | values[4]) if values[0] else old["b"]}
    else:
        old = settings[key]
        after[key] = {"enabled": values[0], "level": values[1] if values[0] else old["level"],
                      "time": (values[2] << 8 | values[3]) if values[0] else old["time"]}
    return after


def shows_frame(view, edit, settings, what):
    """Every setting the page offers shows the frame's values (only the switch of one that is off)."""
    for code in CONFIG_READS:
        shown, held = view_values(view, edit, code), frame_values(settings, code)
        if code in (0x16, 0x21, 0x15, 0x14) and held[0] == 0:
            shown, held = shown[:1], held[:1]
        check(shown == held, "%s: setting %02X shows %s, the frame holds %s" % (what, code, shown, held))


def greyed(view, edit, what):
    wrong = {i: (view[i], GREYED_SHOWN[i]) for i in GREYED_SHOWN if view[i] != GREYED_SHOWN[i]}
    check(not wrong and edit == ("5", 0), "%s: not greyed: (shown, expected) %s, edit %s" % (what, wrong, edit))


# The sequences ----------------------------------------------------------------------------------

INFO_STEPS = [Step(SETTINGS_CHANNEL, c, READ_PAUSE) for c in (0xF2, 0xF3, 0xF4, 0xF5, 0x01, 0x02)]
CONFIG_READ_STEPS = [Step(SETTINGS_CHANNEL, c, READ_PAUSE) for c in CONFIG_READS]
CONFIG_WRITE_STEPS = [Step(SETTINGS_CHANNEL, c, WRITE_PAUSE) for c in CONFIG_READS]
CAL_READ_STEPS = [Step(SETTINGS_CHANNEL, 0x13, READ_PAUSE, "13 read"), Step(CAL_CHANNEL, 0x01, READ_PAUSE, "mode")]
CAL_WRITE_STEPS = [Step(SETTINGS_CHANNEL, 0x13, WRITE_PAUSE, "13 write"),
                   Step(CAL_CHANNEL, 0x02, WRITE_PAUSE, "set mode")]
READS = [settings_report(c, [1]) for c in CONFIG_READS]
CAL_READS = [report(SETTINGS_CHANNEL, [7, 0x13, 1, 1])[1], report(CAL_CHANNEL, [6, 0x01, 0])[1]]


class Sequence:
    """A page's sequence: how it is begun, what it sends and what each failure leaves."""
    name = ""
    steps = []

    def prepare(self, m, i):
        """Brings the page where the sequence begins; what the checks need of that moment."""
        return {}

    def requests(self, m, state):
        """Every report the sequence sends, in order, one for each step."""
        raise NotImplementedError

    def trigger(self, m):
        raise NotImplementedError

    def boxes(self, i, kind):
        return []

    def check(self, m, state, i, kind, before, after):
        raise NotImplementedError


class InfoRefresh(Sequence):
    name = "info"
    steps = INFO_STEPS

    def prepare(self, m, i):
        m.tab(3)
        return {"shown": m.console.texts("info", FRAME_INFO.keys())}

    def requests(self, m, state):
        return [settings_report(s.code, [1]) for s in self.steps]

    def trigger(self, m):
        m.console.probe("tab", "0")

    def check(self, m, state, i, kind, before, after):
        code, reply = self.steps[i].code, fate(kind)
        expected = dict(FRAME_INFO)
        if kind == "unplug" or (reply == "lost" and code == 0x02):
            expected = dict(PLACEHOLDERS)
        elif reply == "lost":
            # Unanswered, a field keeps what it showed.
            expected.update({f: state["shown"][f] for f in INFO_FIELDS[code]})
        elif reply == "refused":
            # The refusal's first value is 0: an empty text, or no values in list A.
            if code in (0xF2, 0xF3, 0xF4, 0xF5):
                expected[INFO_FIELDS[code][0]] = ""
            elif code == 0x02:
                expected.update({IDC_INFO_COUNT_A: "0", IDC_INFO_LIST_A: ""})
        shown = m.console.texts("info", FRAME_INFO.keys())
        wrong = {f: (shown[f], expected[f]) for f in expected if shown[f] != expected[f]}
        check(not wrong, "(shown, expected) %s" % wrong)
        check(after["settings"] == before["settings"], "the frame's settings changed")


class ConfigRefresh(Sequence):
    name = "config read"
    steps = CONFIG_READ_STEPS

    def prepare(self, m, i):
        # What the page shows of the frame when every read is answered; the cell before may have
        # left other values in the page's fields.
        m.open_page(1, len(self.steps))
        self.normal = m.config_view()
        shows_frame(*self.normal, m.frame.dump()["settings"], "answered")
        m.tab(3)
        return {}

    def requests(self, m, state):
        return list(READS)

    def trigger(self, m):
        m.console.probe("tab", "1")

    def check(self, m, state, i, kind, before, after):
        code, reply = self.steps[i].code, fate(kind)
        view, edit = m.config_view()
        if kind == "unplug" or (reply == "lost" and code == 0x14):
            greyed(view, edit, "the page")
        else:
            expected, expected_edit = dict(self.normal[0]), self.normal[1]
            if reply == "lost":
                # A setting the frame did not tell now cannot be changed.
                for c in SETTING_CONTROLS[code]:
                    expected[c] = (expected[c][0], 0)
            elif reply == "refused":
                for c, (p, e) in REFUSED_READ[code].items():
                    expected[c] = (expected[c][0] if p is None else p, e)
            if code == 0x16 and reply != "normal":
                expected_edit = (expected_edit[0], expected[IDC_CFG_16_SPIN][1])
            wrong = {c: (view[c], expected[c]) for c in expected if view[c] != expected[c]}
            check(not wrong and edit == expected_edit,
                  "(shown, expected) %s, edit %s %s" % (wrong, edit, expected_edit))
        check(after["settings"] == before["settings"], "the frame's settings changed")


# The user's change before Apply, to the setting of the failing command: (probe command, control,
# argument) from what the page shows.
def user_change(code, view):
    pos = view[SETTING_CONTROLS[code][0]][0]
    return {0x11: ("select", IDC_CFG_11, 1 - pos), 0x12: ("select", IDC_CFG_12A, 1 - pos),
            0x16: ("spin", IDC_CFG_16_SPIN, "up" if view[IDC_CFG_16_SPIN][0] < 20 else "down"),
            0x17: ("slide", IDC_CFG_17A, 4 if pos != 4 else 3),
            0x21: ("select", IDC_CFG_21_B, 2 if view[IDC_CFG_21_B][0] != 2 else 3),
            0x15: ("select", IDC_CFG_15_ON, 1 - pos),
            0x14: ("select", IDC_CFG_14_LEVEL, 3 if view[IDC_CFG_14_LEVEL][0] != 3 else 4)}[code]


class ConfigApply(Sequence):
    name = "config write"
    steps = CONFIG_WRITE_STEPS

    def prepare(self, m, i):
        m.open_page(1, len(self.steps))
        view, _ = m.config_view()
        command, control, argument = user_change(self.steps[i].code, view)
        check(view[control][1], "control %d cannot be changed" % control)
        m.console.probe("send", command, "config", str(control), str(argument))
        view, edit = m.config_view()
        return {"view": view, "edit": edit,
                "values": {s.code: view_values(view, edit, s.code) for s in self.steps}}

    def requests(self, m, state):
        return [settings_report(s.code, [2] + state["values"][s.code]) for s in self.steps]

    def trigger(self, m):
        m.console.probe("click", "config", str(IDC_CFG_APPLY))

    def boxes(self, i, kind):
        return [IDS_REFUSED] if kind == "refuse" else []

    def check(self, m, state, i, kind, before, after):
        code = self.steps[i].code
        expected = before["settings"]
        if done(kind):
            expected = taken(expected, code, state["values"][code])
        check(after["settings"] == expected, "the frame holds %s, not %s" % (
            after["settings"][SETTING_KEYS[code]], expected[SETTING_KEYS[code]]))
        view, edit = m.config_view()
        if kind == "unplug":
            greyed(view, edit, "the page")
        else:
            check((view, edit) == (state["view"], state["edit"]), "the page changed: %s" % (
                {c: (view[c], state["view"][c]) for c in view if view[c] != state["view"][c]}))


class ConfigDefault(Sequence):
    name = "config default"
    steps = [Step(SETTINGS_CHANNEL, 0x81, REREAD_PAUSE)] + CONFIG_READ_STEPS

    def prepare(self, m, i):
        # A frame whose settings are not its defaults: the user changed one and applied it.
        m.open_page(1, 7)
        view, _ = m.config_view()
        m.console.probe("send", "select", "config", str(IDC_CFG_21_B), str(2 if view[IDC_CFG_21_B][0] != 2 else 3))
        mark = m.frame.mark()
        m.console.probe("click", "config", str(IDC_CFG_APPLY))
        check(m.wait_received(mark + 7, 10), "Apply did not write")
        check(m.frame.dump()["settings"] != m.factory, "the frame holds its defaults already")
        # Once Apply is over, the page reads again what the frame now holds.
        m.open_page(1, 7)
        return {}

    def requests(self, m, state):
        return [settings_report(0x81, [2])] + READS

    def trigger(self, m):
        m.console.probe("click", "config", str(IDC_CFG_DEFAULT))

    def boxes(self, i, kind):
        return [IDS_REFUSED] if kind == "refuse" else []

    def check(self, m, state, i, kind, before, after):
        expected = dict(before["settings"])
        if done(kind):
            # Everything but the calibration option.
            expected = dict(m.factory, option13=before["settings"]["option13"])
        check(after["settings"] == expected, "the frame holds %s" % after["settings"])
        view, edit = m.config_view()
        if kind == "unplug":
            greyed(view, edit, "the page")
        else:
            shows_frame(view, edit, after["settings"], "read again")


def check_calibration(m, option, mode, what):
    """The page: option and mode checked and usable; a list instead of a value: that value is not
    known (what is checked, greyed). The actions are usable only when both are known."""
    options, modes, enabled = calibration_page(m.console)

    def usable(ids):
        states = [enabled[c] for c in ids]
        return True if all(states) else False if not any(states) else "mixed"

    known = [not isinstance(option, list), not isinstance(mode, list)]
    known.append(known[0] and known[1])
    shown = [usable(OPTION_BUTTONS), usable(MODE_BUTTONS.values()), usable(CAL_ACTIONS)]
    want = (option if isinstance(option, list) else [option], mode if isinstance(mode, list) else [mode])
    check((options, modes) == want and shown == known, "%s: checked %s %s, usable %s; expected %s %s, %s" % (
        what, options, modes, shown, want[0], want[1], known))


class CalibrationRefresh(Sequence):
    name = "calibration read"
    steps = CAL_READ_STEPS

    def prepare(self, m, i):
        # Just plugged in: the page knows nothing, so what a failure leaves unknown shows.
        m.tab(3)
        m.replug()
        dump = m.frame.dump()
        return {"option": dump["option13"], "mode": dump["mode"]}

    def requests(self, m, state):
        return list(CAL_READS)

    def trigger(self, m):
        m.console.probe("tab", "2")

    def check(self, m, state, i, kind, before, after):
        option, mode = state["option"], state["mode"]
        reply = fate(kind)
        if kind == "unplug":
            option, mode = [], []
        elif reply == "lost":
            # A reply that comes after the wait is still taken when no later request on its
            # channel came first: its value shows, greyed until the next refresh.
            late = kind == "delay 2.5s"
            if i == 0:
                option = [option] if late else []
            else:
                mode = [mode] if late else []
        elif reply == "refused":
            if i == 0:
                option = 0  # a refused read carries 0, a valid option
            else:
                mode = []  # status 0 is no mode
        check_calibration(m, option, mode, "the page")
        for key in ("option13", "mode", "record"):
            check(after[key] == before[key], "the frame's %s changed" % key)


class CalibrationApply(Sequence):
    name = "calibration write"
    steps = CAL_WRITE_STEPS

    def prepare(self, m, i):
        m.open_page(2, 2)
        dump = m.frame.dump()
        option, mode = dump["option13"], dump["mode"]
        chosen = (1 if option == 2 else 2, 4 if mode == 3 else 3)
        m.console.probe("send", "click", CAL, str(OPTION_BUTTONS[chosen[0]]))
        m.console.probe("send", "click", CAL, str(MODE_BUTTONS[chosen[1]]))
        check_calibration(m, chosen[0], chosen[1], "chosen")
        return {"option": option, "mode": mode, "chosen": chosen}

    def requests(self, m, state):
        return [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, state["chosen"][0]])[1],
                report(CAL_CHANNEL, [6, 0x02, 1, state["chosen"][1]])[1]]

    def trigger(self, m):
        m.console.probe("click", CAL, str(IDC_CAL_APPLY))

    def boxes(self, i, kind):
        return [IDS_REFUSED] if kind == "refuse" else []

    def check(self, m, state, i, kind, before, after):
        carried = done(kind)
        option = state["chosen"][0] if i == 1 or carried else state["option"]
        mode = state["chosen"][1] if (i == 0 and kind != "unplug") or (i == 1 and carried) else state["mode"]
        check((after["option13"], after["mode"]) == (option, mode), "the frame holds option %s, mode %s; not %s, %s" % (
            after["option13"], after["mode"], option, mode))
        if kind == "unplug":
            check_calibration(m, [], [], "the page")
        else:
            # A refused mode goes back to the frame's; the option the user chose stays.
            shown_mode = state["mode"] if (i == 1 and kind == "refuse") else state["chosen"][1]
            check_calibration(m, state["chosen"][0], shown_mode, "the page")


class CalibrationFactory(Sequence):
    name = "calibration factory"
    steps = [Step(CAL_CHANNEL, 0x09, REREAD_PAUSE, "factory")] + CAL_READ_STEPS

    def prepare(self, m, i):
        # The frame holds a record the user imported, so that the factory one shows.
        m.open_page(2, 2)
        path, record = record_file(m)
        m.console.probe("click", CAL, str(IDC_CAL_IMPORT))
        answer_file_dialog(m.console, OPEN_TITLE, path)
        check(poll(lambda: m.frame.dump()["record"] == record.hex(), 10, 0.1), "the import did not reach the frame")
        dump = m.frame.dump()
        return {"option": dump["option13"], "mode": dump["mode"]}

    def requests(self, m, state):
        return [report(CAL_CHANNEL, [6, 0x09, 0])[1]] + CAL_READS

    def trigger(self, m):
        m.console.probe("click", CAL, str(IDC_CAL_FACTORY))

    def check(self, m, state, i, kind, before, after):
        check((after["option13"], after["mode"]) == (before["option13"], before["mode"]), "option or mode changed")
        expected = m.factory_record if done(kind) else before["record"]
        check(after["record"] == expected, "the frame holds the record %s" % after["record"])
        if kind == "unplug":
            check_calibration(m, [], [], "the page")
        else:
            check_calibration(m, state["option"], state["mode"], "the page")


class CalibrationExport(Sequence):
    name = "calibration export"
    steps = [Step(CAL_CHANNEL, 0x07, 0.0, "export")]

    def prepare(self, m, i):
        m.open_page(2, 2)
        self.path = os.path.join(m.folder, "export-%d.ini" % len(os.listdir(m.folder)))
        return {}

    def requests(self, m, state):
        return [report(CAL_CHANNEL, [6, 0x07, 0])[1]]

    def trigger(self, m):
        m.console.probe("click", CAL, str(IDC_CAL_EXPORT))
        answer_file_dialog(m.console, SAVE_TITLE, self.path)

    def boxes(self, i, kind):
        # Only a record that came within the wait is written.
        return [SAVE_FAILED] if fate(kind) == "lost" else []

    def check(self, m, state, i, kind, before, after):
        record = bytes.fromhex(before["record"])
        if fate(kind) == "lost":
            check(not os.path.exists(self.path), "a file was written")
        else:
            if kind == "refuse":
                record = b"\0" + record[1:]  # the refusal's first value is 0
            with open(self.path, "rb") as f:
                check(f.read() == calibration_file(record), "the file is not the record the frame sent")
        check(after["record"] == before["record"], "the frame's record changed")


def record_file(m):
    """A calibration file of a record the frame does not hold yet: (its path, the record)."""
    n = len(os.listdir(m.folder))
    record = bytes([4, n % 5, 1, 0, 1]) + b"".join(
        (x + n).to_bytes(2, "little", signed=True) + y.to_bytes(2, "little", signed=True) for x, y in HAND_POINTS)
    path = os.path.join(m.folder, "import-%d.ini" % n)
    with open(path, "wb") as f:
        f.write(calibration_file(record))
    return path, record


class CalibrationImport(Sequence):
    name = "calibration import"
    steps = [Step(CAL_CHANNEL, 0x06, 0.0, "import")]

    def prepare(self, m, i):
        m.open_page(2, 2)
        self.path, record = record_file(m)
        return {"record": record}

    def requests(self, m, state):
        return [report(CAL_CHANNEL, [6, 0x06, 41] + list(state["record"]))[1]]

    def trigger(self, m):
        m.console.probe("click", CAL, str(IDC_CAL_IMPORT))
        answer_file_dialog(m.console, OPEN_TITLE, self.path)

    def check(self, m, state, i, kind, before, after):
        expected = state["record"].hex() if done(kind) else before["record"]
        check(after["record"] == expected, "the frame holds the record %s" % after["record"])


def fate(kind):
    return KINDS[KIND_NAMES.index(kind)][2]


def done(kind):
    return KINDS[KIND_NAMES.index(kind)][3]


# One cell ---------------------------------------------------------------------------------------

def run_cell(m, seq, i, kind):
    """Runs the sequence with command i failing as `kind`; raises Failure saying why it is wrong."""
    steps, step = seq.steps, seq.steps[i]
    _, fault, reply, _ = KINDS[KIND_NAMES.index(kind)]
    state = seq.prepare(m, i)
    expected = seq.requests(m, state)
    logged = [j for j in range(len(steps)) if not (kind == "stall" and j == i) and not (kind == "unplug" and j > i)]
    before = m.frame.dump()
    mark = len(before["received"])
    stall_channel = "ch%d" % step.channel
    if fault:
        m.ctl("fault", step.target(), *fault)
    elif kind == "unplug":
        m.ctl("fault", step.target(), "delay", str(UNPLUG_HOLD_MS))
    elif i > 0:
        m.ctl("fault", steps[i - 1].target(), "delay", str(STALL_GAP_MS))
    else:
        m.ctl("fault", stall_channel, "stall")

    seq.trigger(m)
    # The sequence begins once the trigger is done (a file dialog may come first).
    began = time.time()
    stalled = began if kind == "stall" and i == 0 else None
    arrivals = {}
    for n, j in enumerate(logged):
        if stalled is not None and j > i:
            time.sleep(max(0.0, stalled + 1.2 - time.time()))
            m.ctl("fault", stall_channel, "none")
            stalled = None
        check(m.wait_received(mark + n + 1, 8), "the frame received %d of %d requests" % (n, len(logged)))
        arrivals[j] = time.time()
        if kind == "stall" and j == i - 1:
            m.ctl("fault", stall_channel, "stall")
            stalled = time.time()
        if kind == "unplug" and j == i:
            m.ctl("unplug")
    if stalled is not None:
        time.sleep(max(0.0, stalled + 1.2 - time.time()))
        m.ctl("fault", stall_channel, "none")

    # What the sequence may take from each request on: a full wait for a reply that cannot come
    # in time, nothing for a request that cannot be written any more, then each pause.
    def cost(j):
        if kind == "unplug" and j > i:
            wait = 0.0
        elif j == i and reply == "lost":
            wait = WAIT_S
        elif kind == "stall" and j == i - 1:
            wait = STALL_GAP_MS / 1000 + ANSWERED_S
        else:
            wait = ANSWERED_S
        return wait + steps[j].pause

    ends = [t + sum(cost(k) for k in range(j, len(steps))) for j, t in arrivals.items()]
    end = max(ends) if ends else began + sum(cost(k) for k in range(len(steps)))
    code, _ = m.console.probe("show")
    answered = time.time()
    check(code == 0, "the window is gone")
    late = answered - end
    clean = False
    try:
        check(late <= ANSWER_WITHIN_S, "the window answered %.1f s after the sequence could have ended" % late)
        boxes = m.boxes(seq.boxes(i, kind))
        check(boxes == seq.boxes(i, kind), "message boxes %s, expected %s" % (boxes, seq.boxes(i, kind)))
        if kind == "unplug":
            check(m.console.status() != m.connected, "the status line still says connected")
        after = m.frame.dump()
        received = [bytes.fromhex(r["report"]) for r in after["received"][mark:]]
        wanted = [expected[j] for j in logged]
        check(received == wanted, "the frame received %s, expected %s" % (
            [r[:8].hex() for r in received], [r[:8].hex() for r in wanted]))
        seq.check(m, state, i, kind, before, after)
        clean = True
    finally:
        for target in {step.target(), steps[i - 1].target() if i > 0 else step.target()}:
            m.ctl("fault", target, "none")
        m.ctl("fault", stall_channel, "none")
        if not clean:
            m.boxes([])
        if kind == "unplug":
            m.ctl("plug")
            check(poll(lambda: m.console.status() == m.connected, 10, 0.1), "the frame was not found again")
    return late


# The matrix -------------------------------------------------------------------------------------

def all_rows():
    rows = []
    for seq in (InfoRefresh(), ConfigRefresh(), ConfigApply(), ConfigDefault(), CalibrationRefresh(),
                CalibrationApply(), CalibrationExport(), CalibrationImport(), CalibrationFactory()):
        rows += [(seq, i) for i in range(len(seq.steps)) if not isinstance(seq, (ConfigDefault, CalibrationFactory))
                 or i == 0]
    return rows


# One command of each sequence: the one whose failure decides most (the information page's
# lists, the configuration page's last read), and the first of the others.
SHORT = {("info", 0x02), ("config read", 0x14), ("config write", 0x12), ("config default", 0x81),
         ("calibration read", 0x01), ("calibration write", 0x13), ("calibration factory", 0x09)}


def run_matrix(env, rows, form):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    with wine_version(env, "win7"), tempfile.TemporaryDirectory(prefix="fault-matrix-") as folder:
        console = Console(env, frame.port)
        # Each step gives what it posts a pause, or waits for the frame's requests, itself.
        console.posts_at_once = True
        try:
            check(console.wait_ready(), "the console did not come up")
            m = Matrix(env, frame, console, folder)
            # An option other than 0, so that a refused read (which carries 0) shows.
            m.tab(2, 2)
            console.probe("send", "click", CAL, str(OPTION_BUTTONS[2]))
            mark = frame.mark()
            console.probe("click", CAL, str(IDC_CAL_APPLY))
            check(m.wait_received(mark + 2, 10), "Apply did not write")
            check(frame.dump()["option13"] == 2, "the option was not set")
            # Each cell's page comes after the options tab, which the console shows once Apply is over.
            results, lates = {}, []
            began = time.time()
            for seq, i in rows:
                for kind in KIND_NAMES:
                    try:
                        lates.append(run_cell(m, seq, i, kind))
                        results[(seq.name, seq.steps[i].name, kind)] = "ok"
                    except Failure as e:
                        results[(seq.name, seq.steps[i].name, kind)] = "FAIL:%s" % e
                    check(console.proc.poll() is None, "the console ended")
            took = time.time() - began
        finally:
            console.kill()
            frame.stop()
    failed = sum(1 for r in results.values() if r != "ok")
    counts = "%d cells: %d ok, %d failed (%.0f s; the window answered at most %.2f s after)" % (
        len(results), len(results) - failed, failed, took, max(lates) if lates else 0)
    write_table(env, form, rows, results, counts)
    check(not failed, counts)
    return counts


def write_table(env, form, rows, results, counts):
    names = ["%s %s" % (seq.name, seq.steps[i].name) for seq, i in rows]
    width = max(len(n) for n in names)
    lines = ["%-*s  %s" % (width, "", "  ".join("%-10s" % k for k in KIND_NAMES))]
    notes = []
    for (seq, i), name in zip(rows, names):
        cells = []
        for kind in KIND_NAMES:
            r = results[(seq.name, seq.steps[i].name, kind)]
            if r != "ok":
                notes.append("%s / %s: %s" % (name, kind, r))
                r = "FAIL"
            cells.append("%-10s" % r)
        lines.append("%-*s  %s" % (width, name, "  ".join(cells)))
    text = "\n".join(lines + ["", counts] + ([""] + notes if notes else [])) + "\n"
    path = os.path.join(env.artifacts, "fault-matrix-%s%s.txt" % (
        form, "" if env.transport.name == "sim" else "-" + env.transport.name))
    with open(path, "w") as f:
        f.write(text)
    print(text, flush=True)


def scenario_short(env):
    return run_matrix(env, [(seq, i) for seq, i in all_rows() if (seq.name, seq.steps[i].code) in SHORT], "short")


def scenario_full(env):
    return run_matrix(env, all_rows(), "full")


SCENARIOS = [
    ("fault matrix, short", scenario_short),
    ("fault matrix, full", scenario_full),
]


def prepare(env):
    return tools_present(env, "window_probe.exe", "msgbox_probe.exe", "TactraConsole.exe", CONSOLE_MODULE_EN)


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

#!/usr/bin/env python3
"""tactractl.exe end to end under Wine against the native simulated frame (harness.py).

The tool must send what the console sends for the same action: each command's reports are
checked against the console scenarios' own expectations (console_common.py, the configuration
and calibration pages' tables), its --json output is parsed and compared with the frame's dump,
and its exit codes are checked for no frame, a refusal, a silent frame and bad input. A backup is
restored onto a second frame with other settings; the tool runs beside a running console; and
`calibration start --wait` follows a run of the calibration program to its end.
"""

import contextlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

from console_common import (CONFIG_READS, FACTORY_SHOWN, FRAME_INFO, GLOBAL, HAND_FILE, INFO_REQUESTS,
                            RUN, STARTUP, Console, Started, calibration_file, check_no_box, close_with_escape,
                            config_showing, config_writes, hand_record, open_tab, report, reset_registry,
                            settings_report, wine_version)
from console_ids import (IDC_CFG_21_B, IDC_INFO_LIST_A, IDC_INFO_LIST_B, IDC_INFO_TEXT_F2, IDC_INFO_TEXT_F3,
                         IDC_INFO_TEXT_F4, IDC_INFO_TEXT_F5, IDC_INFO_VALUE_01)
from harness import (BOTH, CAL_CHANNEL, SIM, SCREEN, SETTINGS_CHANNEL, WINE, Failure, Frame, check,
                     compare_across_transports, poll, program_alone, run_scenarios, tools_present, windows_path)
from kelvane_e2e import BEGIN, BUTTON_FILL, END, GET_MODE, WRITE_RESULT, wait_colour

TOOL, NATIVE_TOOL = "tactractl.exe", "tactractl"
# The tool names a mode by its number of targets; the frame by its code.
TARGETS = {2: 4, 3: 5, 4: 9}
# The exit codes the tool gives.
DONE, NO_ANSWER, BAD_INPUT, NO_FRAME, CALIBRATION_FAILED = 0, 1, 2, 3, 4
# What the information page reads, and the calibration page on being selected.
INFO_READS = [settings_report(code, [1]) for code in INFO_REQUESTS]
CONFIG_PAGE_READS = [settings_report(code, [1]) for code in CONFIG_READS]
CAL_PAGE_READS = [report(SETTINGS_CHANNEL, [7, 0x13, 1, 1])[1], report(CAL_CHANNEL, [6, 0x01, 0])[1]]
# What the console's configuration scenario (scenario_config_read_apply) changes on the page, as
# the tool names it, and what its Apply writes then.
READ_APPLY_CHANGES = ["cfg11=1", "cfg12.a=0", "cfg21.a=180", "cfg21.b=2000", "cfg15.enabled=1", "cfg15.time=5000",
                      "cfg15.level=10", "cfg14.time=1000", "cfg14.level=1", "cfg16.value=12", "cfg17.a=5"]
READ_APPLY_WRITES = [(0x11, [1]), (0x12, [0, 0, 1]), (0x16, [1, 12]), (0x17, [5, 3, 5, 5]),
                     (0x21, [1, 0, 180, 0x07, 0xD0]), (0x15, [1, 10, 0x13, 0x88]), (0x14, [1, 1, 0x03, 0xE8])]


class Result:
    """One run of the tool: its exit code, what it printed, and its --json object (or None)."""

    def __init__(self, argv, code, out, err):
        self.argv, self.code, self.out, self.err = argv, code, out, err
        self.json = None
        if "--json" in argv and out.strip():
            try:
                self.json = json.loads(out)
            except ValueError:
                raise Failure("%s: not one JSON object: %r" % (" ".join(argv), out))

    def __str__(self):
        out = self.out.strip()
        out = out if len(out) < 300 else out[:300] + "..."
        return "%s: exit %d, out %r, err %r" % (" ".join(self.argv), self.code, out, self.err.strip())


def tactractl(env, port, *argv, timeout=90, native=False, cwd=None, exe=None):
    """Runs the tool (or its native build, or the copy `exe`) to its end against the frame served
    on `port` (None: no frame). Its output goes through files: a Wine process may hand its handles
    on to the prefix's services."""
    argv = [str(a) for a in argv]
    command = [os.path.join(env.native_bin, NATIVE_TOOL)] if native else [WINE, exe or os.path.join(env.bin, TOOL)]
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(command + argv, cwd=cwd or env.bin, env=env.transport.program_env(port), stdout=out,
                              stderr=err, timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return Result(argv, code, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace"))


def start_tactractl(env, port, *argv, output=None):
    """The tool started, not waited for; its stdout goes to the file `output`."""
    return env.wine(TOOL, *[str(a) for a in argv], env=env.transport.program_env(port), stdout=output,
                    stderr=subprocess.DEVNULL)


def expected_config(settings):
    """The tool's JSON of what the configuration page learns from the frame's settings (its dump):
    a value behind a switch that is off is not told, and is null."""
    def switched(values, *names):
        on = values["enabled"] == 1
        return dict({"enabled": values["enabled"]}, **{n: values[n] if on else None for n in names})
    return {"cfg11": settings["cfg11"], "cfg12": dict(zip("abc", settings["cfg12"])),
            "cfg14": switched(settings["cfg14"], "level", "time"),
            "cfg15": switched(settings["cfg15"], "level", "time"),
            "cfg16": switched(settings["cfg16"], "value"), "cfg17": dict(zip("abcd", settings["cfg17"])),
            "cfg21": switched(settings["cfg21"], "a", "b")}


def apply_writes(config):
    """The configuration page's Apply of a whole set of values (the tool's JSON), as the frame
    receives it; every switch on, so that every value is the one written."""
    def be16(v):
        return [v >> 8, v & 0xFF]
    c = config
    writes = [(0x11, [c["cfg11"]]), (0x12, [c["cfg12"][k] for k in "abc"]),
              (0x16, [c["cfg16"]["enabled"], c["cfg16"]["value"]]), (0x17, [c["cfg17"][k] for k in "abcd"]),
              (0x21, [c["cfg21"]["enabled"]] + be16(c["cfg21"]["a"]) + be16(c["cfg21"]["b"])),
              (0x15, [c["cfg15"]["enabled"], c["cfg15"]["level"]] + be16(c["cfg15"]["time"])),
              (0x14, [c["cfg14"]["enabled"], c["cfg14"]["level"]] + be16(c["cfg14"]["time"]))]
    return config_writes(writes)


def read_first(writes):
    """The tool's writes of the settings named: each report read afresh right before its write."""
    return [r for w in writes for r in (settings_report(w[1], [1]), w)]


def record_json(record):
    """The backup file's record of a 41-byte record."""
    points = [int.from_bytes(record[at:at + 2], "little") for at in range(5, 41, 2)]
    return {"value1": record[0], "value2": record[1], "flags": list(record[2:5]), "x": points[0::2], "y": points[1::2]}


# What the information page shows, as the tool's JSON says it.
EXPECTED_INFO = {"firmware": FRAME_INFO[IDC_INFO_TEXT_F2], "date": FRAME_INFO[IDC_INFO_TEXT_F3],
                 "model": FRAME_INFO[IDC_INFO_TEXT_F4], "description": FRAME_INFO[IDC_INFO_TEXT_F5],
                 "value": int(FRAME_INFO[IDC_INFO_VALUE_01]),
                 "list_a": [int(v) for v in FRAME_INFO[IDC_INFO_LIST_A].split("+")],
                 "list_b": [int(v) for v in FRAME_INFO[IDC_INFO_LIST_B].split("+")]}


def received(frame, mark):
    return [r for _, r in frame.since(mark)]


def hexes(reports):
    return [r[:12].hex() for r in reports]


@contextlib.contextmanager
def frame_for_tool(env, mode=3, **frame_args):
    """A frame in `mode` with Wine reporting Windows 7 (where the configuration page has its first
    setting) and the registry reset to English; the frame stops afterwards."""
    reset_registry(env, 0)
    with wine_version(env, "win7"):
        frame = Frame(env, mode, **frame_args)
        try:
            yield frame
        finally:
            frame.stop()


class Row:
    """A run of the tool in a table: its arguments, the exit code it must end with, the reports the
    frame must receive meanwhile (None: not checked), a check of its JSON and the frame's dump
    afterwards (a complaint or None), the fault the frame has meanwhile ((code, kind) or None), and
    whether the native build runs instead."""

    def __init__(self, argv, code, sent=None, after=None, fault=None, native=False):
        self.argv, self.code, self.sent, self.after, self.fault = argv, code, sent, after, fault
        self.native = native


def run_table(env, frame, table):
    """Runs each row in turn (a Row, or the arguments of one); the number of runs."""
    for row in table:
        row = row if isinstance(row, Row) else Row(*row)
        if row.fault:
            frame.ctl("fault", *row.fault)
            check(frame.dump()["faults"], "the frame did not take the fault %s" % (row.fault,))
        mark = frame.mark()
        try:
            result = tactractl(env, frame.port, *row.argv, native=row.native)
        finally:
            if row.fault:
                frame.ctl("fault", row.fault[0], "none")
        sent = received(frame, mark)
        problems = []
        if result.code != row.code:
            problems.append("expected exit %d" % row.code)
        if row.sent is not None and sent != row.sent:
            problems.append("sent %s, not %s" % (hexes(sent), hexes(row.sent)))
        if row.after and not problems:
            problems.append(row.after(result, frame.dump()))
        problems = [p for p in problems if p]
        check(not problems, "%s: %s" % (result, "; ".join(problems)))
    return len(table)


def scenario_info(env):
    # The quick check of the tool: what the frame tells of itself, read as the information page
    # reads it, and nothing written.
    with frame_for_tool(env) as frame:
        mark = frame.mark()
        r = tactractl(env, frame.port, "--json", "info")
        check(r.code == DONE and r.json == EXPECTED_INFO, str(r))
        sent = [report for _, report in frame.since(mark)]
        check(sent == INFO_READS, "the frame received %s" % [b[:4].hex() for b in sent])
    return "info as the information page reads it"


def scenario_every_command(env):
    # Each command of the tool as the console's page sends it, in a frame of five targets.
    with tempfile.TemporaryDirectory(prefix="tactractl-") as folder, frame_for_tool(env, 3) as frame:
        factory = frame.dump()
        factory_config = expected_config(factory["settings"])
        hand = os.path.join(folder, "hand.ini")
        with open(hand, "wb") as f:
            f.write(HAND_FILE)
        exported = os.path.join(folder, "exported.ini")
        backup = os.path.join(folder, "backup.json")

        def status(r, d):
            j = r.json
            channels = j.get("channels") or []
            if not j.get("bound") or (j.get("vendor"), j.get("product")) != ("595a", "0008"):
                return "bound %s to %s:%s" % (j.get("bound"), j.get("vendor"), j.get("product"))
            if sorted(c.get("channel") for c in channels) != list(range(6)) or not all(c.get("path") for c in channels):
                return "channels %s" % channels
            return None

        def info(r, d):
            return r.json != EXPECTED_INFO and "info %s" % r.json

        def config_is(expected):
            return lambda r, d: r.json != expected and "JSON %s, expected %s" % (r.json, expected)

        read_apply = dict(factory_config, cfg11=1, cfg12={"a": 0, "b": 0, "c": 1},
                          cfg14={"enabled": 1, "level": 1, "time": 1000},
                          cfg15={"enabled": 1, "level": 10, "time": 5000},
                          cfg16={"enabled": 1, "value": 12}, cfg17={"a": 5, "b": 3, "c": 5, "d": 5},
                          cfg21={"enabled": 1, "a": 180, "b": 2000})

        def kept_config(expected):
            def after(r, d):
                if expected_config(d["settings"]) != expected:
                    return "the frame holds %s" % d["settings"]
                return config_is(expected)(r, d)
            return after

        kept_read_apply = kept_config(read_apply)

        def back_to_factory(r, d):
            if settings_part(d) != settings_part(factory):
                return "the frame holds %s" % d["settings"]
            return config_is(factory_config)(r, d)

        def calibration_is(mode, option, record=None, said=None):
            def after(r, d):
                if (d["mode"], d["option13"]) != (mode, option):
                    return "the frame holds mode %s option %s" % (d["mode"], d["option13"])
                if record is not None and d["record"] != record.hex():
                    return "the frame keeps the record %s" % d["record"]
                return r.json != (said or {"mode": TARGETS[mode], "option": option}) and "JSON %s" % r.json
            return after

        def exported_file(r, d):
            with open(exported, "rb") as f:
                written = f.read()
            if written != calibration_file(bytes.fromhex(d["record"])):
                return "the file holds %r" % written
            return r.json != {"file": windows_path(exported)} and "JSON %s" % r.json

        def backup_file(r, d):
            with open(backup, encoding="utf-8") as f:
                content = json.load(f)
            expected = {"format": "tactra-backup", "version": 1, "info": EXPECTED_INFO,
                        "settings": expected_config(d["settings"]),
                        "calibration": {"mode": TARGETS[d["mode"]], "option": d["option13"],
                                        "record": record_json(bytes.fromhex(d["record"]))}}
            if content != expected:
                return "the backup holds %s, expected %s" % (content, expected)
            return r.json != {"file": windows_path(backup), "record": True} and "JSON %s" % r.json

        def help_text(r, d):
            return not all(c in r.out for c in ("status", "config set", "calibration start", "restore")) and "help"

        mode5, mode9 = [report(CAL_CHANNEL, [6, 0x02, 1, m])[1] for m in (3, 4)]
        runs = run_table(env, frame, [
            (["--json", "status"], DONE, [], status),
            (["info", "--json"], DONE, INFO_READS, info),
            (["--json", "config"], DONE, CONFIG_PAGE_READS, config_is(factory_config)),
            (["--json", "config", "set"] + READ_APPLY_CHANGES, DONE,
             CONFIG_PAGE_READS + read_first(config_writes(READ_APPLY_WRITES)),
             kept_read_apply),
            # The page's reads, as when its tab is selected, then Default: the frame's own values, read again.
            (["--json", "config", "defaults"], DONE,
             CONFIG_PAGE_READS + [settings_report(0x81, [2])] + CONFIG_PAGE_READS, back_to_factory),
            # Only the reports of the values named are written, their other values as the fresh
            # read gave them.
            (["--json", "config", "set", "cfg17.b=1", "cfg21.b=100"], DONE,
             CONFIG_PAGE_READS + read_first(config_writes([(0x17, [3, 1, 5, 5]), (0x21, [1, 0, 30, 0, 100])])),
             kept_config(dict(factory_config, cfg17={"a": 3, "b": 1, "c": 5, "d": 5},
                              cfg21={"enabled": 1, "a": 30, "b": 100}))),
            # Switched on, its values are those the page shows for it until the user chooses.
            (["--json", "config", "set", "cfg15.enabled=1"], DONE,
             CONFIG_PAGE_READS + read_first(config_writes([(0x15, [1, 5, 0x0B, 0xB8])])), None),
            (["--json", "calibration"], DONE, CAL_PAGE_READS, calibration_is(3, 0)),
            # The page's Apply writes the option and then the mode, both as the page holds them.
            (["--json", "calibration", "set", "option=2"], DONE,
             CAL_PAGE_READS + [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 2])[1], mode5], calibration_is(3, 2)),
            (["--json", "calibration", "set", "mode=9", "option=1"], DONE,
             CAL_PAGE_READS + [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 1])[1], mode9], calibration_is(4, 1)),
            # The record written, then read back.
            (["--json", "calibration", "import", windows_path(hand)], DONE,
             CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x06, 41] + list(hand_record()))[1],
                               report(CAL_CHANNEL, [6, 0x07, 0])[1]],
             calibration_is(4, 1, hand_record(), {"file": windows_path(hand), "verified": True})),
            (["--json", "calibration", "export", windows_path(exported)], DONE,
             CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x07, 0])[1]], exported_file),
            (["--json", "backup", windows_path(backup)], DONE,
             INFO_READS + CONFIG_PAGE_READS + CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x07, 0])[1]], backup_file),
            (["--json", "calibration", "restore-factory"], DONE,
             CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x09, 0])[1]] + CAL_PAGE_READS,
             calibration_is(4, 1, bytes.fromhex(factory["record"]))),
            (["help"], DONE, [], help_text),
            (["--help"], DONE, [], help_text),
        ])
        with open(hand, "rb") as f:
            check(f.read() == HAND_FILE, "the imported file was changed")
        same = compare_across_transports(env, "tactractl-every-command", [r for _, r in frame.since(0)],
                                         os.path.join(env.bin, TOOL))
        # The native build, over the simulator host only, builds the same reports and JSON.
        native = ""
        if env.transport.name == "sim" and os.access(os.path.join(env.native_bin, NATIVE_TOOL), os.X_OK):
            native = "; native build alike in %d" % run_table(env, frame, [
                Row(["--json", "info"], DONE, INFO_READS, info, native=True),
                Row(["--json", "config", "defaults"], DONE,
                    CONFIG_PAGE_READS + [settings_report(0x81, [2])] + CONFIG_PAGE_READS, back_to_factory, native=True),
                Row(["--json", "config", "set"] + READ_APPLY_CHANGES, DONE,
                    CONFIG_PAGE_READS + read_first(config_writes(READ_APPLY_WRITES)), kept_read_apply, native=True),
                Row(["--json", "calibration", "set", "mode=5", "option=0"], DONE,
                    CAL_PAGE_READS + [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 0])[1], mode5], calibration_is(3, 0),
                    native=True)])
    return "%d commands: the console's reports, JSON as the frame holds%s%s" % (runs, native, same and "; " + same)


def scenario_programs(env):
    # The options page's settings in the registry: no frame needed, nothing sent to one.
    reset_registry(env, 0)
    runs = [(["--json", "programs"], {"language": "en", "start_at_logon": False, "minimize_after_start": False}),
            (["--json", "programs", "set", "language=zh", "start-at-logon=on", "minimize-after-start=on"],
             {"language": "zh", "start_at_logon": True, "minimize_after_start": True}),
            (["--json", "programs"], {"language": "zh", "start_at_logon": True, "minimize_after_start": True})]
    try:
        for argv, expected in runs:
            result = tactractl(env, None, *argv)
            check(result.code == DONE and result.json == expected, "expected %s: %s" % (expected, result))
        check(env.reg_value(GLOBAL, "Language") == "0x1", "Language %s" % env.reg_value(GLOBAL, "Language"))
        check(env.reg_value(STARTUP, "LoadProgramOnStartup") == "0x1", "LoadProgramOnStartup not written")
        check(env.reg_value(STARTUP, "MinimizeWindowOnLoaded") == "0x1", "MinimizeWindowOnLoaded not written")
        run = env.reg_value(RUN, "TactraConsole")
        check(run is not None and run.startswith('"') and run.lower().endswith('tactraconsole.exe"'),
              "Run entry %r" % run)
        result = tactractl(env, None, "--json", "programs", "set", "language=en", "start-at-logon=off",
                           "minimize-after-start=off")
        check(result.code == DONE and result.json == runs[0][1], str(result))
        check(env.reg_value(RUN, "TactraConsole") is None, "the Run entry stayed")
        check(env.reg_value(GLOBAL, "Language") == "0x0", "Language %s" % env.reg_value(GLOBAL, "Language"))

        # A copy of the tool in a folder without the console: the logon entry stays as it is
        # unless asked about, and then names the console the install recorded, or is refused.
        with tempfile.TemporaryDirectory(prefix="tactractl-copy-") as folder:
            copy = os.path.join(folder, TOOL)
            shutil.copy(os.path.join(env.bin, TOOL), copy)
            check(tactractl(env, None, "programs", "set", "start-at-logon=on").code == DONE, "the entry not set")
            entry = env.reg_value(RUN, "TactraConsole")
            result = tactractl(env, None, "programs", "set", "language=zh", exe=copy, cwd=folder)
            check(result.code == DONE and env.reg_value(RUN, "TactraConsole") == entry,
                  "language from another folder: %s; the entry %r" % (result, env.reg_value(RUN, "TactraConsole")))
            result = tactractl(env, None, "programs", "set", "start-at-logon=on", exe=copy, cwd=folder)
            check(result.code == BAD_INPUT and env.reg_value(RUN, "TactraConsole") == entry,
                  "no console: %s; the entry %r" % (result, env.reg_value(RUN, "TactraConsole")))
            installed = windows_path(env.bin) + "\\"
            env.reg("add", r"HKLM\Software\Tactra", "/v", "InstallDir", "/t", "REG_SZ", "/d", installed, "/f")
            result = tactractl(env, None, "programs", "set", "start-at-logon=on", exe=copy, cwd=folder)
            named = env.reg_value(RUN, "TactraConsole")
            check(result.code == DONE and named == '"%sTactraConsole.exe"' % installed,
                  "the install's folder %r: %s; the entry %r" % (installed, result, named))
    finally:
        reset_registry(env, 0)
    return ("registry written as the options page's Apply, Run entry quoted and removed; "
            "from another folder the entry is left, refused, or names the install's console")


def scenario_bad_input(env):
    # Values out of range, unknown names and commands, malformed files: exit 2, one line on
    # stderr, nothing sent. The tool decides these by itself, whatever the transport.
    with tempfile.TemporaryDirectory(prefix="tactractl-") as folder, frame_for_tool(env, 3) as frame:
        backup = os.path.join(folder, "good.json")
        result = tactractl(env, frame.port, "backup", windows_path(backup))
        check(result.code == DONE, str(result))
        with open(backup, encoding="utf-8") as f:
            good = json.load(f)
        bad = json.loads(json.dumps(good))
        bad["settings"]["cfg14"]["time"] = 150
        files = {"malformed.json": '{"format":"tactra-backup","version":1,"info":',
                 "version2.json": json.dumps(dict(good, version=2)),
                 "not-backup.json": json.dumps(dict(good, format="other")), "bad-value.json": json.dumps(bad)}
        for name, content in files.items():
            with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                f.write(content)
        edited = os.path.join(folder, "edited.ini")
        with open(edited, "wb") as f:
            f.write(HAND_FILE.replace(b"\r\n", b"\n"))  # an editor's line ends
        # Well formed, with a calibration mode of 7: no frame has it.
        mode7 = os.path.join(folder, "mode7.ini")
        with open(mode7, "wb") as f:
            f.write(calibration_file(bytes([7]) + hand_record()[1:]))

        table = [(["config", "set", "cfg15.time=123"], BAD_INPUT, []),
                 (["config", "set", "cfg14.level=11"], BAD_INPUT, []),
                 (["config", "set", "cfg21.a=4"], BAD_INPUT, []),
                 (["config", "set", "cfg99=1"], BAD_INPUT, []),
                 (["config", "set", "cfg12.a"], BAD_INPUT, []),
                 # A value behind a switch the frame left off: refused after the read.
                 (["config", "set", "cfg15.level=2"], BAD_INPUT, CONFIG_PAGE_READS),
                 (["calibration", "set", "mode=6"], BAD_INPUT, []),
                 (["calibration", "set", "option=4"], BAD_INPUT, []),
                 (["calibration", "import", windows_path(edited)], BAD_INPUT, []),
                 (["calibration", "import", windows_path(mode7)], BAD_INPUT, []),
                 (["programs", "set", "language=fr"], BAD_INPUT, []),
                 (["frobnicate"], BAD_INPUT, [])]
        table += [(["restore", windows_path(os.path.join(folder, name))], BAD_INPUT, []) for name in files]
        bad_inputs = run_table(env, frame, table)
        # Each error is one line on stderr.
        result = tactractl(env, frame.port, "config", "set", "cfg15.time=123")
        lines = result.err.strip().splitlines()
        check(len(lines) == 1 and lines[0].startswith("tactractl: "), "stderr %r" % result.err)
    return "%d bad inputs: exit 2, nothing sent" % bad_inputs


def scenario_exit_codes(env):
    with tempfile.TemporaryDirectory(prefix="tactractl-") as folder:
        # Without a frame: no simulator or no device at all.
        result = tactractl(env, None, "--json", "status")
        check(result.code == NO_FRAME and result.json and result.json.get("bound") is False, str(result))
        result = tactractl(env, None, "config")
        check(result.code == NO_FRAME and result.err.startswith("tactractl: "), str(result))
        # Output that cannot be written: a full disk.
        if os.path.exists("/dev/full"):
            with open("/dev/full", "wb") as full, tempfile.TemporaryFile() as err:
                code = subprocess.run([WINE, os.path.join(env.bin, TOOL), "--help"], cwd=env.bin, stdout=full,
                                      stderr=err, env=env.transport.program_env(None), timeout=90).returncode
                err.seek(0)
                said = err.read().decode("utf-8", "replace")
            check(code == NO_ANSWER and "tactractl: the output could not be written" in said,
                  "--help onto a full disk: exit %d, %r" % (code, said))

        with frame_for_tool(env, 3) as frame:
            factory = frame.dump()
            hand = os.path.join(folder, "hand.ini")
            with open(hand, "wb") as f:
                f.write(HAND_FILE)

            def kept(key, value):
                return lambda r, d: d[key] != value and "the frame holds %s %s" % (key, d[key])

            def settings_kept(r, d):
                return settings_part(d) != settings_part(factory) and "the frame holds %s" % d["settings"]

            run_table(env, frame, [
                # Refusals of the action: exit 1, the frame keeps what it had.
                Row(["config", "defaults"], NO_ANSWER,
                    CONFIG_PAGE_READS + [settings_report(0x81, [2])] + CONFIG_PAGE_READS, fault=("7:0x81", "refuse")),
                Row(["calibration", "set", "mode=9"], NO_ANSWER,
                    CAL_PAGE_READS + [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 0])[1],
                                      report(CAL_CHANNEL, [6, 0x02, 1, 4])[1]],
                    kept("mode", 3), fault=("6:0x02", "refuse")),
                # The frame's refusal of an import or of the factory calibration (the console's
                # page does not look at the answer; the tool does).
                Row(["calibration", "import", windows_path(hand)], NO_ANSWER,
                    CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x06, 41] + list(hand_record()))[1]],
                    kept("record", factory["record"]), fault=("6:0x06", "refuse")),
                Row(["calibration", "restore-factory"], NO_ANSWER,
                    CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x09, 0])[1]] + CAL_PAGE_READS,
                    fault=("6:0x09", "refuse")),
                # A silent frame: a read unanswered is exit 1.
                Row(["--json", "config"], NO_ANSWER, CONFIG_PAGE_READS, fault=("7:0x14", "silent")),
                Row(["--json", "info"], NO_ANSWER, INFO_READS, fault=("7:0xF2", "silent")),
                Row(["--json", "calibration"], NO_ANSWER, CAL_PAGE_READS, fault=("6:0x01", "silent")),
                Row(["calibration", "export", windows_path(os.path.join(folder, "silent.ini"))], NO_ANSWER,
                    CAL_PAGE_READS + [report(CAL_CHANNEL, [6, 0x07, 0])[1]], fault=("6:0x07", "silent")),
                # The frame refuses to tell one setting (its read's first value is 0): the setting
                # named cannot be written whole, so nothing is written.
                Row(["config", "set", "cfg17.b=1"], NO_ANSWER, CONFIG_PAGE_READS, settings_kept,
                    fault=("7:0x17", "refuse")),
                # One read unanswered: the console's Apply would write the six others
                # (scenario_config_apply_after_unanswered_read); the tool writes nothing to a frame
                # that did not answer.
                Row(["config", "set", "cfg17.b=1"], NO_ANSWER, CONFIG_PAGE_READS, settings_kept,
                    fault=("7:0x12", "silent")),
            ])
            check(not os.path.exists(os.path.join(folder, "silent.ini")), "a file written without a record")

            # The frame goes away; over Wine's HID stack its devices go a moment later.
            frame.ctl("unplug")
            gone = poll(lambda: tactractl(env, frame.port, "status").code == NO_FRAME, 10, 0.1)
            check(gone, "the tool still finds the frame 10 s after its removal")
            result = tactractl(env, frame.port, "--json", "info")
            check(result.code == NO_FRAME, str(result))
            result = tactractl(env, frame.port, "--json", "status")
            check(result.code == NO_FRAME and result.json and result.json.get("bound") is False, str(result))
            frame.ctl("plug")
            back = poll(lambda: tactractl(env, frame.port, "status").code == DONE, 10, 0.1)
            check(back, "the tool does not find the frame 10 s after it came back")
            run_table(env, frame, [(["--json", "info"], DONE, INFO_READS)])
    return "no frame 3, refusals and silence 1"


# The first frame's settings, every switch on, all different from the simulated frame's own.
FIRST_STATE = {"option13": 2, "cfg11": 1, "cfg12": "0 1 0", "cfg14": "1 8 700", "cfg15": "1 2 4500", "cfg16": "1 17",
               "cfg17": "1 4 9 2", "cfg21": "1 120 1500"}


def state_file(folder, mode, record):
    path = os.path.join(folder, "first.state")
    lines = ["mode %d" % mode] + ["%s %s" % kv for kv in FIRST_STATE.items()] + ["record " + record.hex()]
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def calibration_part(dump):
    return dump["mode"], dump["option13"], dump["record"]


def settings_part(dump):
    """The configuration page's settings of a dump (the calibration option lives among them)."""
    return {k: v for k, v in dump["settings"].items() if k != "option13"}


def scenario_backup_restore(env):
    with tempfile.TemporaryDirectory(prefix="tactractl-backup-") as folder:
        backup = os.path.join(folder, "first.json")
        state = state_file(folder, 4, hand_record())
        with frame_for_tool(env, 4, extra=("--state", state)) as first:
            original = first.dump()
            check(original["settings"]["cfg21"]["b"] == 1500, "the first frame did not take its state")
            result = tactractl(env, first.port, "--json", "backup", windows_path(backup))
            check(result.code == DONE and result.json == {"file": windows_path(backup), "record": True}, str(result))
        with open(backup, encoding="utf-8") as f:
            content = json.load(f)
        check(content["settings"] == expected_config(original["settings"]), "backup settings %s" % content["settings"])
        check(content["calibration"] == {"mode": 9, "option": 2, "record": record_json(hand_record())},
              "backup calibration %s" % content["calibration"])

        # Onto a frame of five targets with its own settings and record: the settings alone, the
        # calibration alone, then both.
        with frame_for_tool(env, 3) as second:
            own = second.dump()
            check(settings_part(own) != settings_part(original) and own["record"] != original["record"],
                  "the second frame is set as the first")
            # The settings alone where the page has no first setting (later Windows): it stays the
            # second frame's, and the rest is read and written as the console's page does there.
            with wine_version(env, "win10"):
                mark = second.mark()
                result = tactractl(env, second.port, "--json", "restore", windows_path(backup), "--settings")
                written = ["cfg12", "cfg16", "cfg17", "cfg21", "cfg15", "cfg14"]
                check(result.code == DONE and result.json == {"settings": True, "calibration": False,
                                                              "written": written}, str(result))
                sent = received(second, mark)
                expected = CONFIG_PAGE_READS[1:] + read_first(apply_writes(content["settings"])[1:])
                check(sent == expected, "the later-Windows restore sent %s, not %s" % (hexes(sent), hexes(expected)))
                first_setting = tactractl(env, second.port, "config", "set", "cfg11=1")
            now = second.dump()
            check(settings_part(now) == dict(settings_part(original), cfg11=own["settings"]["cfg11"]),
                  "settings restored on later Windows as %s" % settings_part(now))
            check(calibration_part(now) == calibration_part(own), "a settings restore changed the calibration")
            check(first_setting.code == BAD_INPUT and received(second, mark + len(sent)) == [],
                  "the first setting on later Windows: %s" % first_setting)
            settings_before = settings_part(now)

            mark = second.mark()
            result = tactractl(env, second.port, "--json", "restore", windows_path(backup), "--calibration")
            check(result.code == DONE and result.json == {"settings": False, "calibration": True, "verified": True},
                  str(result))
            now = second.dump()
            check(calibration_part(now) == calibration_part(original), "calibration restored as %s" %
                  (calibration_part(now),))
            check(settings_part(now) == settings_before,
                  "settings changed by a calibration restore: %s" % now["settings"])
            restore_mode = [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 2])[1], report(CAL_CHANNEL, [6, 0x02, 1, 4])[1]]
            restore_record = [report(CAL_CHANNEL, [6, 0x06, 41] + list(hand_record()))[1],
                              report(CAL_CHANNEL, [6, 0x07, 0])[1]]
            sent = received(second, mark)
            check(sent == CAL_PAGE_READS + restore_mode + restore_record, "the calibration restore sent %s" % hexes(sent))

            mark = second.mark()
            # Both: only the first setting differs now, and neither mode nor option.
            result = tactractl(env, second.port, "--json", "restore", windows_path(backup))
            check(result.code == DONE and result.json == {"settings": True, "calibration": True, "written": ["cfg11"],
                                                          "verified": True}, str(result))
            now = second.dump()
            check(settings_part(now) == settings_part(original), "settings restored as %s, not %s" % (
                settings_part(now), settings_part(original)))
            check(calibration_part(now) == calibration_part(original), "calibration %s" % (calibration_part(now),))
            sent = received(second, mark)
            # Every read comes before the first write.
            expected = (CONFIG_PAGE_READS + CAL_PAGE_READS + read_first(apply_writes(content["settings"])[:1]) +
                        restore_record)
            check(sent == expected, "the restore sent %s, not %s" % (hexes(sent), hexes(expected)))

        # A frame of four targets: its record is not read, nor restored.
        with frame_for_tool(env, 2) as third:
            mark = third.mark()
            four = os.path.join(folder, "four.json")
            result = tactractl(env, third.port, "--json", "backup", windows_path(four))
            check(result.code == DONE and result.json == {"file": windows_path(four), "record": False}, str(result))
            sent = received(third, mark)
            check(sent == INFO_READS + CONFIG_PAGE_READS + CAL_PAGE_READS, "the backup sent %s" % hexes(sent))
            with open(four, encoding="utf-8") as f:
                check(json.load(f)["calibration"]["record"] is None, "a record in a four-target backup")
    return "settings, mode, option and record carried over; each part alone; no record in four targets"


def scenario_beside_console(env):
    # The tool while the console runs on the same frame: both answered, the console still works
    # and shows what the tool wrote.
    with frame_for_tool(env, 3) as frame:
        console = Console(env, frame.port)
        try:
            check(console.wait_ready(), "the console did not come up")
            result = tactractl(env, frame.port, "--json", "info")
            check(result.code == DONE and result.json == EXPECTED_INFO, str(result))
            mark = frame.mark()
            result = tactractl(env, frame.port, "--json", "config", "set", "cfg21.b=2000")
            check(result.code == DONE and result.json and result.json["cfg21"] == {"enabled": 1, "a": 30, "b": 2000},
                  str(result))
            check(frame.dump()["settings"]["cfg21"]["b"] == 2000, "the frame did not keep the tool's value")
            sent = received(frame, mark)
            expected = CONFIG_PAGE_READS + read_first(config_writes([(0x21, [1, 0, 30, 0x07, 0xD0])]))
            check(sent == expected, "the tool sent %s beside the console" % hexes(sent))
            result = tactractl(env, frame.port, "--json", "calibration")
            check(result.code == DONE and result.json == {"mode": 5, "option": 0}, str(result))
            check_no_box(env, 500)
            # The console's configuration page reads what the tool wrote.
            shown = dict(FACTORY_SHOWN)
            shown[IDC_CFG_21_B] = (7, 1)
            reads = open_tab(console, frame, 1, 7, lambda: config_showing(console, shown, "10", True))
            check(reads == CONFIG_PAGE_READS, "the console read %s" % hexes(reads))
            check(config_showing(console, shown, "10", True), "the console does not show the tool's value")
            close_with_escape(console)
        finally:
            console.kill()
    return "info, config set and calibration beside the console; its page then showed the value"


def scenario_two_writers(env):
    # Two tools at once on one frame, each changing a different setting: both changes are kept.
    rounds = int(os.environ.get("TACTRA_TWO_WRITERS_ROUNDS", "20"))
    with tempfile.TemporaryDirectory(prefix="tactractl-two-") as folder, frame_for_tool(env, 3) as frame:
        for n in range(rounds):
            a, b = (5, 2000) if n % 2 else (2, 500)
            with open(os.path.join(folder, "a"), "w") as fa, open(os.path.join(folder, "b"), "w") as fb:
                first = start_tactractl(env, frame.port, "config", "set", "cfg17.a=%d" % a, output=fa)
                second = start_tactractl(env, frame.port, "config", "set", "cfg21.b=%d" % b, output=fb)
                codes = (first.wait(60), second.wait(60))
            settings = frame.dump()["settings"]
            check(codes == (DONE, DONE) and settings["cfg17"][0] == a and settings["cfg21"]["b"] == b,
                  "round %d: exit %s, the frame holds cfg17 %s, cfg21 %s" % (n, codes, settings["cfg17"], settings["cfg21"]))
    return "%d rounds of two tools at once: both changes kept" % rounds


def scenario_removed_part_way(env):
    # The frame unplugged once it has received a given number of a command's requests, for each
    # point of config set, restore and calibration import in turn: the command ends with 3 and
    # says what it wrote, or with 0 when it was done; never a crash.
    tries = int(os.environ.get("TACTRA_REMOVAL_TRIES", "9"))  # 51 by hand
    groups = ["cfg11", "cfg14", "cfg21", "cfg15", "cfg12"]
    with tempfile.TemporaryDirectory(prefix="tactractl-removed-") as folder, frame_for_tool(env, 3) as frame:
        hand = os.path.join(folder, "hand.ini")
        with open(hand, "wb") as f:
            f.write(HAND_FILE)
        backups = []
        for n, values in enumerate((["cfg14.level=9", "cfg21.a=180", "cfg17.b=1"], ["cfg14.level=2", "cfg21.a=5", "cfg17.b=4"])):
            backups.append(os.path.join(folder, "b%d.json" % n))
            check(tactractl(env, frame.port, "config", "set", *values).code == DONE, "config set %s" % values)
            check(tactractl(env, frame.port, "backup", windows_path(backups[-1])).code == DONE, "backup")
        # (command, the reads before its first write, its requests in all)
        commands = [(lambda n: ["config", "set", "cfg11=%d" % (1 + n % 2), "cfg14.level=%d" % (2 + n % 2),
                                "cfg21.a=%d" % (3 if n % 2 else 5), "cfg15.enabled=1", "cfg15.time=%d" % (500 + 500 * (n % 2)),
                                "cfg12.a=%d" % (n % 2)], 7, 17),
                    (lambda n: ["restore", windows_path(backups[n % 2])], 9, 17),
                    (lambda n: ["calibration", "import", windows_path(hand)], 2, 4)]
        counts = {DONE: 0, NO_FRAME: 0}
        for n in range(tries):
            argv, reads, total = commands[n % 3]
            argv = ["--json"] + argv(n // 3)
            point = reads + (n // 3) % (total - reads + 1)
            mark = frame.mark()
            out_path, err_path = os.path.join(folder, "out"), os.path.join(folder, "err")
            with open(out_path, "w") as out, open(err_path, "w") as err:
                tool = env.wine(TOOL, *argv, env=env.transport.program_env(frame.port), stdout=out, stderr=err)
                frame.ctl("wait-received", str(mark + point), "--timeout", "15000")
                frame.ctl("unplug")
                code = tool.wait(60)
            with open(out_path, encoding="utf-8", errors="replace") as f:
                said = f.read()
            with open(err_path, encoding="utf-8", errors="replace") as f:
                error = f.read()
            frame.ctl("plug")
            check(code in counts, "%s unplugged after %d requests: exit %d, %r %r" % (" ".join(argv), point, code, said, error))
            counts[code] += 1
            if code == NO_FRAME:
                check("the frame was removed" in error, "%s: %r" % (" ".join(argv), error))
            if code == NO_FRAME and argv[1] == "config" and said.strip():
                report = json.loads(said)
                settings = frame.dump()["settings"]
                written = [g for g in report.get("written", [])]
                for g in written:
                    check(g in groups, "written %s" % g)
                check(set(written) | set(report.get("not_written", [])) | {report.get("failed")} >= set(groups) or
                      "written" not in report, "the lists %s leave out a setting" % report)
                check(not written or settings["cfg11"] == 1 + n // 3 % 2 or "cfg11" not in written,
                      "cfg11 said written, the frame holds %s" % settings["cfg11"])
            check(poll(lambda: tactractl(env, frame.port, "status").code == DONE, 10, 0.1),
                  "the frame is not found again")
    return "%d tries: %d ended with 3, %d were done first; no crash" % (tries, counts[NO_FRAME], counts[DONE])


def begun(frame):
    """How many calibration runs the frame has seen begin."""
    return sum(1 for c, _ in frame.calibration_commands() if c == BEGIN)


def scenario_calibration_start(env):
    full_screen = lambda w, h, t: (w, h) == SCREEN  # noqa: E731
    ends = []
    with frame_for_tool(env, 3) as frame:
        kelvane = Started("Kelvane.exe", frame.port)
        # Kept once its result is in (Enter on the buttons), abandoned as soon as it has begun.
        for key, expected, code, codes in (("Return", ("kept", 0), DONE, [GET_MODE, BEGIN, WRITE_RESULT, END]),
                                           ("Escape", ("abandoned", 1), CALIBRATION_FAILED, [GET_MODE, BEGIN, END])):
            runs = begun(frame)
            mark = frame.mark()

            def run_has(command):
                return any(r[0] == 6 and r[1] == command for r in received(frame, mark))
            with tempfile.TemporaryFile() as out:
                tool = start_tactractl(env, frame.port, "--json", "calibration", "start", "--wait", output=out)
                try:
                    wid = kelvane.wait_window(full_screen, 30)
                    check(wid, "the calibration program did not start")
                    check(poll(lambda: run_has(BEGIN), 15), "the run did not begin")
                    if WRITE_RESULT in codes:
                        check(poll(lambda: run_has(WRITE_RESULT), 60), "no result within 60 s")
                        check(wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, 10), "the buttons did not appear")
                    kelvane.key_to(wid, key)
                    tool.wait(30)
                finally:
                    if tool.poll() is None:
                        tool.kill()
                out.seek(0)
                text = out.read().decode("utf-8", "replace")
            check(tool.returncode == code, "after %s the tool ended with %s: %r" % (key, tool.returncode, text))
            try:
                said = json.loads(text)
            except ValueError:
                raise Failure("not JSON after %s: %r" % (key, text))
            check(said == {"started": True, "ended": expected[0], "exit_code": expected[1]},
                  "after %s: %s" % (key, said))
            sent = received(frame, mark)
            check(sent[:2] == CAL_PAGE_READS, "the tool did not read the page first: %s" % hexes(sent))
            commands = [(r[1], r[3:3 + r[2]]) for r in sent[2:] if r[0] == 6]
            check([c for c, _ in commands] == codes, "the run %s" % commands)
            check(commands[-1][1] == bytes([1 if key == "Return" else 0]), "CMD_CAL_END %s" % commands[-1][1].hex())
            check(begun(frame) == runs + 1, "not one run")
            ends.append(expected[0])

        # Without --wait: the tool ends once the program has started; the run goes on, and the
        # tool still answers beside it.
        result = tactractl(env, frame.port, "--json", "calibration", "start", cwd=env.artifacts)
        check(result.code == DONE and result.json == {"started": True}, str(result))
        wid = kelvane.wait_window(full_screen, 30)
        check(wid, "the calibration program did not start")
        if env.transport.name == "sim":
            # From the tool's own folder, whatever the current directory.
            started = [kelvane.command_line(pid) for pid in kelvane.pids()]
            expected = windows_path(os.path.join(env.bin, "Kelvane.exe")).lower()
            check(len(started) == 1 and started[0][0].lower() == expected, "started as %s" % started)
        result = tactractl(env, frame.port, "--json", "info")
        check(result.code == DONE and result.json == EXPECTED_INFO, "beside the run: %s" % result)
        kelvane.key_to(wid, "Escape")
        check(poll(lambda: not kelvane.wait_window(full_screen, 0), 20), "the calibration program stayed")
        ended = [c for c, _ in frame.calibration_commands()][-1:]
        check(ended == [END], "the run beside the tool did not end with CMD_CAL_END: %s" % ended)

        # The tool alone in its folder, a calibration program in the current directory: that one
        # is not started.
        if env.transport.name == "sim":
            runs = begun(frame)
            with program_alone(env, TOOL, "Kelvane.exe") as (alone, planted):
                for wait in ((), ("--wait",)):
                    result = tactractl(env, frame.port, "calibration", "start", *wait, exe=alone, cwd=planted)
                    check(result.code == CALIBRATION_FAILED and result.err.startswith("tactractl: "), str(result))
                # The second in which no calibration may begin.
                check(not poll(lambda: begun(frame) > runs, 1), "a calibration began")
                check(not kelvane.pids(), "the calibration program in the current directory ran")
    # Over Wine's HID stack a frame is there while its bridge runs: only once it has stopped is there none.
    result = tactractl(env, None, "calibration", "start", "--wait")
    check(result.code == NO_FRAME, "without a frame: %s" % result)
    return "--wait: %s; started without waiting, the tool beside the run;%s 3 without a frame" % (
        ", ".join(ends), " 4 alone;" if env.transport.name == "sim" else "")


SCENARIOS = [
    ("info", scenario_info, SIM),
    ("exit codes", scenario_exit_codes, BOTH),
    ("every command as the console sends it", scenario_every_command, BOTH),
    ("bad input", scenario_bad_input),
    # What goes over Wine's HID stack differently is in the rows above and beside the console; a
    # backup is those same commands, and the calibration runs have their own scenarios over both.
    ("backup, restore onto another frame", scenario_backup_restore, SIM),
    ("beside a running console", scenario_beside_console, BOTH),
    ("two writers at once", scenario_two_writers, SIM),
    ("a frame removed part way", scenario_removed_part_way, BOTH),
    ("calibration start --wait", scenario_calibration_start, SIM),
    ("programs", scenario_programs),
]


def prepare(env):
    if not tools_present(env, TOOL, "Kelvane.exe", "TactraConsole.exe", "window_probe.exe", "msgbox_probe.exe"):
        return False
    env.settle()
    return True


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

"""The console's configuration page (console_e2e.py runs these scenarios): its reads, Apply and
Default, a refusal, greyed controls, later Windows, Chinese and no frame."""

import contextlib
import time

from console_common import (CONFIG_READS, FACTORY_SHOWN, FACTORY_WRITES, GREYED_SHOWN, TITLE, Console, apply_config,
                            check_config_shown, check_no_box, close_with_escape, config_shown, config_showing,
                            config_writes, open_tab, reopen_config, reset_registry, settings_report, wine_version,
                            when_shown)
from console_ids import (CONSOLE_MODULE_EN, IDC_CFG_11, IDC_CFG_12A, IDC_CFG_14_LEVEL, IDC_CFG_14_TIME,
                         IDC_CFG_15_LEVEL, IDC_CFG_15_ON, IDC_CFG_15_TIME, IDC_CFG_16_SPIN, IDC_CFG_17A, IDC_CFG_17B,
                         IDC_CFG_21_A, IDC_CFG_21_B, IDC_CFG_APPLY, IDC_CFG_DEFAULT, IDS_CAPTION, IDS_NO_FRAME,
                         IDS_REFUSED)
from harness import SETTINGS_CHANNEL, Frame, check, dismiss_box, free_port, screenshot, wait_until


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
        reads = open_tab(console, frame, 1, 7, lambda: config_showing(console, FACTORY_SHOWN, "10", True))
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
        # What the page shows of them, and after Apply shows again when it reads what the frame kept.
        changed = dict(FACTORY_SHOWN)
        changed.update({IDC_CFG_11: (0, 1), IDC_CFG_12A: (1, 1), IDC_CFG_16_SPIN: (12, 1), IDC_CFG_17A: (5, 1),
                        IDC_CFG_21_A: (9, 1), IDC_CFG_21_B: (7, 1), IDC_CFG_15_ON: (0, 1), IDC_CFG_15_TIME: (9, 1),
                        IDC_CFG_15_LEVEL: (9, 1), IDC_CFG_14_TIME: (9, 1), IDC_CFG_14_LEVEL: (0, 1)})
        when_shown(lambda: config_showing(console, changed, "12", True), bool)
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
        reopen_config(console, frame, shown=lambda: config_showing(console, changed, "12", True))
        check_config_shown(console, changed, "12", True, "read back")
    return "7 paced reads, 7 exact writes the frame kept and showed again"


def scenario_config_refusal_and_default(env):
    with config_console(env) as (console, frame):
        open_tab(console, frame, 1, 7, lambda: config_showing(console, FACTORY_SHOWN, "10", True))
        console.probe("select", "config", str(IDC_CFG_21_B), "0")
        console.probe("slide", "config", str(IDC_CFG_17B), "1")
        changed = dict(FACTORY_SHOWN)
        changed.update({IDC_CFG_21_B: (0, 1), IDC_CFG_17B: (1, 1)})
        when_shown(lambda: config_showing(console, changed, "10", True), bool)
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
        when_shown(lambda: config_showing(console, FACTORY_SHOWN, "10", True), bool)
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
        open_tab(console, frame, 1, 7)
        # The page is greyed before its first read as after this one: only the time the last
        # read costs (its wait of 2 s) tells that the page's outcome is there.
        time.sleep(2.8)
        check_config_shown(console, GREYED_SHOWN, "5", False, "the last read unanswered")
        screenshot(env, "config-en-greyed.png")
        before = len(frame.received(SETTINGS_CHANNEL))
        console.probe("click", "config", str(IDC_CFG_APPLY))
        time.sleep(1.0)  # the second in which Apply must write nothing
        check(len(frame.received(SETTINGS_CHANNEL)) == before, "Apply wrote values the frame never told")

        # The frame answers again: the page comes back, and Apply writes what it read.
        frame.ctl("fault", "7:0x14", "none")
        reopen_config(console, frame, shown=lambda: config_showing(console, FACTORY_SHOWN, "10", True))
        check_config_shown(console, FACTORY_SHOWN, "10", True, "answered again")
        writes = apply_config(console, frame, 7)
        check(writes == config_writes(FACTORY_WRITES), "writes %s" % [w[:10].hex() for w in writes])
    return "greyed with Apply off, back after an answered read; sliders written as read"


def scenario_config_later_windows(env):
    with config_console(env, "win10") as (console, frame):
        expected = dict(FACTORY_SHOWN)
        expected[IDC_CFG_11] = (0, 0)
        reads = open_tab(console, frame, 1, 6, lambda: config_showing(console, expected, "10", True))
        check(reads == [settings_report(code, [1]) for code in CONFIG_READS[1:]],
              "reads %s" % [r[:5].hex() for r in reads])
        check_config_shown(console, expected, "10", True, "later Windows")
        console.probe("select", "config", str(IDC_CFG_11), "1")
        time.sleep(0.3)  # the time in which the choice must change nothing
        check_config_shown(console, expected, "10", True, "the first list chosen anyway")
        writes = apply_config(console, frame, 6)
        check(writes == config_writes(FACTORY_WRITES[1:]), "writes %s" % [w[:10].hex() for w in writes])
        check(frame.dump()["settings"]["cfg11"] == 2, "the first setting was written")
    return "6 reads and 6 writes, first list greyed at item 0"


def scenario_config_chinese(env):
    with config_console(env, language=1) as (console, frame):
        open_tab(console, frame, 1, 7, lambda: config_showing(console, FACTORY_SHOWN, "10", True))
        check_config_shown(console, FACTORY_SHOWN, "10", True, "the frame's settings")
        screenshot(env, "config-zh-values.png")
        frame.ctl("fault", "7:0x14", "silent")
        reopen_config(console, frame, shown=lambda: config_showing(console, GREYED_SHOWN, "5", False))
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
        # Apply, greyed before the first read, can be used once the read has ended, its last reply in.
        open_tab(console, frame, 1, 7, lambda: config_shown(console)[0][IDC_CFG_APPLY] == (-1, 1))
        frame.ctl("fault", "7:0x12", "none")
        writes = apply_config(console, frame, 6)
        expected = [w for w in FACTORY_WRITES if w[0] != 0x12]
        check(writes == config_writes(expected), "writes %s" % [w[:10].hex() for w in writes])
        check_no_box(env)
    return "six writes, none for the setting the frame did not tell"

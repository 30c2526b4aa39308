"""The console's calibration page (console_e2e.py runs these scenarios): option and mode, import,
export and the factory calibration, the calibration program it starts, and a frame that sends what
nobody asked for."""

import contextlib
import os
import shutil
import subprocess
import tempfile
import time

from console_common import (CAL, HAND_FILE, IDCANCEL, IMPORT_FAILED, INFO_REQUESTS, MODE_BUTTONS, OPEN_TITLE,
                            OPTION_BUTTONS, SAVE_FAILED, SAVE_TITLE, SHOWN_WITHIN_S, WM_COMMAND, Started,
                            answer_file_dialog, calibration_command_count, calibration_commands_seen,
                            calibration_file, calibration_page, check_no_box, close_with_escape, console_up,
                            hand_record, info_shows_frame, is_chinese, open_calibration_page, open_tab,
                            owned_text_box, report, when_shown)
from console_ids import (CONSOLE_MODULE_EN, CONSOLE_MODULE_ZH, IDC_CAL_APPLY, IDC_CAL_EXPORT, IDC_CAL_FACTORY,
                         IDC_CAL_IMPORT, IDC_CAL_START, IDS_ALREADY_STARTED, IDS_CAPTION, IDS_FILE_NOT_FOUND,
                         IDS_REFUSED)
from harness import (CAL_CHANNEL, SCREEN, SETTINGS_CHANNEL, check, dismiss_box, grid_points_payload, poll, screenshot,
                     wait_until, windows_path)
from kelvane_e2e import BUTTON_FILL, wait_colour


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
        options = when_shown(lambda: calibration_page(console)[0], lambda chosen: chosen == [value])
        check(options == [value], "option %d not chosen" % value)
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
        when_shown(lambda: calibration_page(console)[:2], lambda chosen: chosen == ([2], [3]))
        console.probe("click", CAL, str(IDC_CAL_APPLY))
        wait_until(lambda: len(frame.since(count)) >= 2, 10, "Apply sent nothing")
        check_no_box(env, 1500)
        # After the box's wait: a report too many would have come by then.
        sent = frame.since(count)
        check(sent == [report(SETTINGS_CHANNEL, [7, 0x13, 2, 2, 2]), report(CAL_CHANNEL, [6, 0x02, 1, 3])],
              "Apply sent %s" % [(c, r[:6].hex()) for c, r in sent])
        dump = frame.dump()
        check((dump["option13"], dump["mode"]) == (2, 3), "the frame keeps %s, %s" % (dump["option13"], dump["mode"]))
        # The information page's reads first, so that those of the calibration page are its own.
        open_tab(console, frame, 0, len(INFO_REQUESTS), lambda: info_shows_frame(console))
        open_calibration_page(console, frame)
        check(calibration_page(console)[:2] == ([2], [3]), "read again: %s" % (calibration_page(console)[:2],))
    return "option %d and mode 4 shown, Apply wrote option 2 and mode 3 in order" % option


def scenario_calibration_mode_refused(env):
    with calibration_page_open(env, 4) as (frame, console, _):
        frame.ctl("fault", "6:0x02", "refuse")
        count = frame.mark()
        console.probe("click", CAL, str(MODE_BUTTONS[2]))
        modes = when_shown(lambda: calibration_page(console)[1], lambda chosen: chosen == [2])
        check(modes == [2], "mode 2 not chosen")
        console.probe("click", CAL, str(IDC_CAL_APPLY))
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_REFUSED, IDS_CAPTION), "message %s" % (box,))
        check_no_box(env, 1500)
        check(calibration_page(console)[1] == [4], "the mode buttons did not go back to the frame's mode")
        sent = frame.since(count)
        check(sent[-1] == report(CAL_CHANNEL, [6, 0x02, 1, 2]), "the mode sent: %s" % sent[-1][1][:5].hex())
        check(frame.dump()["mode"] == 4, "the frame changed its mode")
    return "1085 once, buttons back at mode 4"


def write_file(folder, name, content):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(content)
    return path


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


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
        check_no_box(env, 1500)
        # After the box's wait: a report too many would have come by then.
        sent = frame.since(count)
        check(sent == [report(CAL_CHANNEL, [6, 0x06, 41] + list(hand_record()))],
              "the import sent %s" % [r.hex() for _, r in sent])
        check(frame.dump()["record"] == hand_record().hex(), "the frame keeps %s" % frame.dump()["record"])

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
        time.sleep(0.5)  # a report too many would come within this pause
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
        kept = bytes.fromhex(frame.dump()["record"])
        written = when_shown(lambda: read_file(exported), lambda content: content == calibration_file(kept))
        check(written == calibration_file(kept) == HAND_FILE, "the file holds %r" % written)
        check_no_box(env, 1500)
        # After the box's wait: a report too many would have come by then.
        check(frame.since(count) == [report(CAL_CHANNEL, [6, 0x07, 0])], "the export sent more")
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
        # The buttons come with the next tick: Return means nothing before them.
        wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, SHOWN_WITHIN_S)
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
            time.sleep(2)  # the time in which no calibration program may start
            check(not Started("Kelvane.exe", frame.port).pids(), "the planted calibration program ran")
            check(not frame.wait_for(0x03, 1), "a calibration began")
    return "1088, the planted Kelvane.exe in the current directory did not run"


def scenario_calibration_page_chinese(env):
    with calibration_page_open(env, 3, args=("1",)) as (_, console, _):
        shoot_options(env, console, "zh")
        text = console.show()[1][(CAL, IDC_CAL_START)]["text"]
        check(is_chinese(text), "the start button %r is not Chinese" % text)
    return "four illustrations, start button '%s'" % text


def scenario_unrequested_flood(env):
    # A frame that floods every handle with refusals nobody asked for, on both channels, while
    # the calibration page is shown: no box, the window answers at once, nothing is written.
    with console_up(env) as (frame, console):
        open_calibration_page(console, frame)
        before = frame.mark()
        frame.ctl("send", "060201" + "00ff", "--count", "1000")
        frame.ctl("send", "0713020200ff", "--count", "1000")
        frame.ctl("send", "0701020200ff", "--count", "1000")
        time.sleep(1.0)  # the flood reaches the console meanwhile: the window must answer while it does
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

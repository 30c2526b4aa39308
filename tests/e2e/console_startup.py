"""The console's start and its link (console_e2e.py runs these scenarios): the frame unplugged and
plugged in again, collections arriving one by one, a stalled channel, the language chosen by argument
and a language module missing."""

import time

from console_common import (GLOBAL, INFO_REQUESTS, OPTION_BUTTONS, Console, calibration_page, close_with_escape,
                            console_up, info_shows_frame, is_chinese, when_shown)
from console_ids import CONSOLE_MODULE_EN
from harness import SETTINGS_CHANNEL, check, free_port, poll, probe_box, program_alone, wait_until


def scenario_plug_unplug(env):
    with console_up(env) as (frame, console):
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
        console.probe("tab", "3")
        console.probe("tab", "0")
        # Its reads, answered: the information page shows the frame's values again.
        poll(lambda: len(frame.received(SETTINGS_CHANNEL)) >= before + 6, 10)
        when_shown(lambda: info_shows_frame(console), bool)
        check(len(frame.received(SETTINGS_CHANNEL)) == before + 6, "the frame at new paths does not answer")
        close_with_escape(console)
        return "'%s' / '%s', also at new paths" % (connected, disconnected)


def scenario_staggered_arrival(env):
    # A frame plugged into a new port: its six collections come one by one, a second apart. The
    # console says connected only once it can talk to the frame, and then it can, without a
    # re-plug: the calibration page reads option and mode and shows them.
    with console_up(env) as (frame, console):
        connected = console.status()
        frame.ctl("unplug", "--new-paths")
        wait_until(lambda: console.status() != connected, 10, "the status did not change on removal")
        frame.ctl("plug", "--staggered", "1000")
        wait_until(lambda: console.status() == connected, 20, "never connected")
        seen = frame.dump().get("present")
        before = frame.mark()
        console.probe("tab", "2")
        wait_until(lambda: len(frame.since(before)) >= 2, 10, "the calibration page read nothing")
        options, modes, enabled = when_shown(lambda: calibration_page(console),
                                             lambda page: page[1] == [3] and all(page[2].values()))
        check(modes == [3] and all(enabled.values()), "the page shows %s %s" % (modes, enabled))
        close_with_escape(console)
    return "connected once bound (%s collections present then), the page answered" % (seen or "?")


def scenario_stalled_channel(env):
    # The frame stops taking reports on its settings channel: the calibration page's option read
    # costs its wait, the mode is still read on the other channel; once the frame takes reports
    # again the next refresh goes out and is answered, without a re-plug.
    with console_up(env) as (frame, console):
        frame.ctl("fault", "ch5", "stall")
        before = frame.mark()
        console.probe("tab", "2")
        # The option read is lost to the stall; the mode request follows once its wait is over.
        wait_until(lambda: len(frame.since(before)) >= 1, 10, "the calibration page read nothing")
        options, modes, enabled = when_shown(lambda: calibration_page(console),
                                             lambda page: page[1] == [3] and not page[2][OPTION_BUTTONS[0]])
        check(modes == [3] and not enabled[OPTION_BUTTONS[0]], "stalled: %s %s" % (modes, enabled))
        frame.ctl("fault", "ch5", "none")
        time.sleep(3.0)  # a write the system still holds ends by then: nothing here tells when
        # The information page's reads first, so that the refresh below counts only its own.
        info = frame.mark()
        console.probe("tab", "0")
        poll(lambda: len(frame.since(info)) >= len(INFO_REQUESTS), 10)
        before = frame.mark()
        console.probe("tab", "2")
        wait_until(lambda: any(b[:2] == bytes([7, 0x13]) for b in frame.received(SETTINGS_CHANNEL)), 15,
                   "the option read never reached the frame")
        options, modes, enabled = when_shown(lambda: calibration_page(console), lambda page: all(page[2].values()))
        check(all(enabled.values()), "after the stall: %s %s" % (options, enabled))
        check(len(frame.since(before)) >= 2, "the refresh did not go out")
        close_with_escape(console)
    return "the stalled read cost its wait; answered again after the stall"


def scenario_chinese_by_argument(env):
    with console_up(env, args=("1",)) as (frame, console):
        status = console.status()
        check(is_chinese(status), "the status line %r is not Chinese" % status)
        check(env.reg_value(GLOBAL, "Language") == "0x0", "the registry was changed")
        close_with_escape(console)
        return "Chinese status '%s', registry untouched" % status


def scenario_module_missing(env):
    with program_alone(env, "TactraConsole.exe", CONSOLE_MODULE_EN) as (exe, planted):
        console = Console(env, free_port(), ("0",), cwd=planted, exe=exe)
        try:
            out = probe_box(env, None, 15000)
            check("caption=Error" in out, "caption: %s" % out)
            check("text=Cannot find language file: TactraConsoleLangEN.dll!" in out, "text: %s" % out)
            check(console.wait_exit(15), "the console did not end")
            check(console.probe("show")[0] == 1, "a console window appeared")
            return "fixed English message naming the module, no window"
        finally:
            console.kill()

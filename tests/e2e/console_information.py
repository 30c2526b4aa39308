"""The console's start and its information page (console_e2e.py runs these scenarios): what the
frame tells at start, or that there is none."""

import os
import time

from console_common import (FIXED_PAUSES_MS, FRAME_INFO, GLOBAL, PLACEHOLDERS, STARTUP, TITLE, Console,
                            check_info_requests, close_with_escape, reset_registry, when_shown)
from console_ids import CONSOLE_MODULE_EN, IDC_TABS, IDS_CAPTION, IDS_NO_FRAME
from harness import (SETTINGS_CHANNEL, Frame, check, compare_across_transports, dismiss_box, free_port, screenshot,
                     startup_overhead)


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
        check(controls[("main", IDC_TABS)]["selected"] == "0", "tab %s" % controls[("main", IDC_TABS)]["selected"])
        check(console.tray(), "no icon in the notification area")
        screenshot(env, "console-en-tab0.png")
        for tab in range(1, 5):
            console.probe("tab", str(tab))
            # For the picture only, which nothing checks: a second to read the page and draw it.
            time.sleep(1.0)
            screenshot(env, "console-en-tab%d.png" % tab)
        handle = console.handle
        close_with_escape(console)
        check(not console.tray("#" + handle), "the icon stayed after the console ended")
        return "connected, 6 requests, frame's values; startup beyond fixed pauses: %s ms%s" % (
            startup_overhead(log, "information-shown", FIXED_PAUSES_MS), same and "; " + same)
    finally:
        console.kill()
        frame.stop()


def scenario_no_frame(env):
    reset_registry(env, 0)
    console = Console(env, free_port())
    try:
        # The information page says so once at start; meanwhile no other page may be opened.
        check(console.wait_window(lambda w, h, t: t == TITLE, 20), "no console window")
        # The box has the window's title and only closing it tells it is there: a second for it
        # to come, then the tab asked for while it is open, and half a second in which the
        # window must refuse it (the tab then stays as it was).
        time.sleep(1.0)
        console.probe("tab", "3")
        time.sleep(0.5)
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_NO_FRAME, IDS_CAPTION), "message %s" % (box,))
        check(console.wait_ready(), "the console did not come up")
        window, controls = console.show()
        check(controls[("main", IDC_TABS)]["selected"] == "0",
              "a tab changed while a message box of a sequence was open")
        check(console.texts("info", PLACEHOLDERS.keys()) == PLACEHOLDERS, "placeholders not shown")
        status = console.status()
        # Tab 0 again (as the user selects it): the message every time. The options page in
        # between asks the frame nothing.
        console.probe("tab", "3")
        when_shown(lambda: console.show()[1][("main", IDC_TABS)]["selected"], lambda tab: tab == "3")
        console.probe("tab", "0")
        box = dismiss_box(env, CONSOLE_MODULE_EN)
        check(box == (IDS_NO_FRAME, IDS_CAPTION), "message on the second visit %s" % (box,))
        close_with_escape(console)
        return "1083 at start and on each visit, placeholders, status '%s'" % status
    finally:
        console.kill()

"""The console's options page and its notification-area icon (console_e2e.py runs these scenarios)."""

import subprocess
import time

from console_common import (GLOBAL, RUN, SC_MINIMIZE, SHOWN_WITHIN_S, STARTUP, WM_LBUTTONDBLCLK, WM_RBUTTONUP,
                            WM_SYSCOMMAND, WM_TRAYICON, Console, close_with_escape, console_up, is_chinese,
                            reset_registry, select_tab, when_shown)
from console_ids import IDC_OPT_APPLY, IDC_OPT_CHINESE, IDC_OPT_ENGLISH, IDC_OPT_LOGON, IDC_OPT_MINIMIZE, IDR_MAINFRAME
from harness import Frame, check, poll, run_windows, screenshot, wait_until


def scenario_options_and_next_start(env):
    reset_registry(env, 0)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
        def checked():
            controls = console.show()[1]
            return [controls[("options", i)]["check"] for i in (IDC_OPT_ENGLISH, IDC_OPT_CHINESE, IDC_OPT_LOGON,
                                                                 IDC_OPT_MINIMIZE)]

        console.probe("tab", "3")
        boxes = when_shown(checked, lambda now: now[:2] == ["1", "0"])
        check((boxes[0], boxes[1]) == ("1", "0"), "language boxes")
        for box in (IDC_OPT_CHINESE, IDC_OPT_LOGON, IDC_OPT_MINIMIZE):
            console.probe("click", "options", str(box))
        boxes = when_shown(checked, lambda now: now == ["0", "1", "1", "1"])
        check(boxes == ["0", "1", "1", "1"], "boxes after the clicks")
        console.probe("click", "options", str(IDC_OPT_APPLY))
        poll(lambda: env.reg_value(GLOBAL, "Language") == "0x1" and env.reg_value(RUN, "TactraConsole") is not None
             and env.reg_value(STARTUP, "LoadProgramOnStartup") == "0x1"
             and env.reg_value(STARTUP, "MinimizeWindowOnLoaded") == "0x1", SHOWN_WITHIN_S)
        check(env.reg_value(GLOBAL, "Language") == "0x1", "Language not written")
        check(env.reg_value(STARTUP, "LoadProgramOnStartup") == "0x1", "LoadProgramOnStartup not written")
        check(env.reg_value(STARTUP, "MinimizeWindowOnLoaded") == "0x1", "MinimizeWindowOnLoaded not written")
        run = env.reg_value(RUN, "TactraConsole")
        check(run is not None and run.startswith('"') and run.endswith('TactraConsole.exe"'), "Run entry %r" % run)
        close_with_escape(console)

        # The next start: Chinese, hidden after start with only the icon to show it again.
        console = Console(env, frame.port)
        check(console.wait_ready(), "the console did not come up again")
        wait_until(lambda: not console.visible(), 10, "the console did not hide after start")
        check(console.tray(), "no icon while hidden")
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME), str(WM_LBUTTONDBLCLK))
        wait_until(console.visible, 10, "a double click on the icon did not show the window")
        status = console.status()
        check(is_chinese(status), "the status line %r is not Chinese" % status)
        screenshot(env, "console-zh-tab0.png")
        for tab in range(1, 5):
            select_tab(console, tab)
            # For the picture only, which nothing checks: a second to read the page and draw it.
            time.sleep(1.0)
            screenshot(env, "console-zh-tab%d.png" % tab)

        # Start at logon off again: the entry goes, and a second Apply says nothing. The last tab
        # reads nothing: no sequence is under way that would refuse the Apply.
        console.probe("click", "options", str(IDC_OPT_LOGON))
        console.probe("click", "options", str(IDC_OPT_MINIMIZE))
        console.probe("click", "options", str(IDC_OPT_APPLY))
        poll(lambda: env.reg_value(RUN, "TactraConsole") is None, SHOWN_WITHIN_S)
        check(env.reg_value(RUN, "TactraConsole") is None, "the Run entry stayed (start at logon %s; %s)" % (
            env.reg_value(STARTUP, "LoadProgramOnStartup"), console.state()))
        console.probe("click", "options", str(IDC_OPT_APPLY))
        # Nothing is to be said: the box probe looks for a message for as long as the second and
        # a half this took as a pause and a look.
        check(run_windows(env, ["msgbox_probe.exe", "1500"])[0] == 1, "a message after removing an absent entry")
        close_with_escape(console)
        return "Chinese, hidden after start, Run entry quoted and removed"
    finally:
        console.kill()
        frame.stop()
        reset_registry(env, 0)


def scenario_tray(env):
    with console_up(env) as (frame, console):
        # The shell says its notification area restarted: the icon is there after it.
        console.probe("taskbar-created")
        # The icon was there before the message: only a pause lets what the window does with it
        # show.
        time.sleep(0.5)
        check(console.tray(), "no icon after the shell's restart message")
        console.probe("post", str(WM_SYSCOMMAND), str(SC_MINIMIZE), "0")
        wait_until(lambda: not console.visible(), 10, "minimising did not hide the window")
        check(console.tray(), "no icon while minimised")
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME + 1), str(WM_LBUTTONDBLCLK))
        time.sleep(1.0)  # the second in which the window must stay hidden
        check(not console.visible(), "a callback of another icon id showed the window")
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME), str(WM_LBUTTONDBLCLK))
        wait_until(console.visible, 10, "a double click on the icon did not show the window")
        # The icon's menu: its one item ends the console.
        handle = console.handle
        console.probe("post", str(WM_TRAYICON), str(IDR_MAINFRAME), str(WM_RBUTTONUP))
        console.wait_window(lambda w, h, t: t == "", SHOWN_WITHIN_S)  # the menu, a window without a title
        subprocess.run(["xdotool", "key", "x"], check=False)
        check(console.wait_exit(15), "the icon's menu item did not end the console")
        check(not console.tray("#" + handle), "the icon stayed after the console ended")
        return "minimise hides, icon 128 shows, the menu ends the console"

#!/usr/bin/env python3
"""The console at the system's scalings (harness.py): for each scaling and language, the console
against the simulated frame, each tab visited, and the rectangles of the window read back
(window_probe.exe layout). A scaling fails when a tab label is cut (its text larger than its
item), a page lies over the tab row or out of the tab control, two visible controls overlap, a
control sticks out of its page, or a button's or label's text does not fit it. A picture of every tab goes
to the artifacts folder (scaling/console-LANG-PERCENT-PAGE.png).

Wine takes the scaling from HKCU\\Control Panel\\Desktop, value LogPixels, when its server starts:
each scaling restarts it; the prefix is left at 96 (100 %) afterwards. The short form (CI) runs
100 % and 150 %; TACTRA_SCALING=full adds 125 % and 200 %, whose window needs a display larger
than with-wine's 1024x768 (2048x1536 holds every scaling):
  Xvfb :137 -screen 0 2048x1536x24 -nolisten tcp &
  DISPLAY=:137 TACTRA_SCALING=full scripts/with-wine python3 tests/e2e/console_scaling.py \
    --bin build/win64/bin --native-bin build/native/bin --artifacts build/win64/artifacts
"""

import os
import subprocess
import sys
import time

from console_common import (CONFIG_READS, FACTORY_SHOWN, Console, config_shown, info_shows_frame,
                            open_calibration_page, open_tab, reset_registry, when_shown, window_box)
from console_ids import CONSOLE_MODULE_EN, CONSOLE_MODULE_ZH, IDC_STATUS
from harness import (WINESERVER, Failure, Frame, check, inside, overlap, parse_layout, run_scenarios, screenshot,
                     tools_present)

DESKTOP = r"HKCU\Control Panel\Desktop"
BASE_DPI = 96
SCALINGS = {100: 96, 125: 120, 150: 144, 200: 192}
SHORT = (100, 150)
LANGUAGES = {"en": 0, "zh": 1}
PAGES = ("information", "configuration", "calibration", "options", "about")
# The names the probe gives the pages' dialogs.
PROBE_NAMES = dict(zip(PAGES, ("info", "config", "calibration", "options", "about")))
# Button styles (the low four bits): push buttons, the ones with a box or circle before the text,
# and the group box, which holds other controls.
PUSH, DEFPUSH, GROUPBOX = 0, 1, 7
MARKED = (2, 3, 4, 5, 6, 9)  # check boxes, radio buttons, three-state boxes
# The check box or circle of a marked button and the gap after it, in pixels at 100 %.
MARK_WIDTH = 16


def layout_faults(layout, dpi, page):
    """What is cut or overlaps in the console's window showing `page`: a list of sentences."""
    faults = []
    if int(layout["window"]["dpi"]) != dpi:
        faults.append("the window is at %s DPI, not %d" % (layout["window"]["dpi"], dpi))
    width, height = (int(v) for v in layout["window"]["screen"].split(","))
    if not inside(layout["window"]["rect"], (0, 0, width, height)):
        faults.append("the window %s is larger than the screen (%dx%d): at this scaling the display must be "
                      "larger" % (layout["window"]["rect"], width, height))
    tabs = layout["tabs"]
    row_bottom = max(t["rect"][3] for t in layout["tab"])
    for t in layout["tab"]:
        r, (w, h) = t["rect"], t["text-size"]
        if w > r[2] - r[0] or h > r[3] - r[1]:
            faults.append("tab %s: its label %r (%dx%d) is cut in %dx%d" % (t["index"], t["text"], w, h,
                                                                            r[2] - r[0], r[3] - r[1]))
        if not inside(r, tabs["rect"]):
            faults.append("tab %s sticks out of the tab control" % t["index"])
    shown = [p for p in layout["page"] if p["visible"] == "1"]
    if len(shown) != 1 or shown[0]["name"] != PROBE_NAMES[page]:
        faults.append("the pages shown are %s, not %s" % ([p["name"] for p in shown], page))
    main = [c for c in layout["control"] if c["page"] == "main" and c["visible"] == "1"]
    status = [c for c in main if int(c["id"]) == IDC_STATUS]
    if status and overlap(status[0]["rect"], tabs["rect"]):
        faults.append("the status line lies over the tab control")
    for p in shown:
        area = p["rect"]
        if area[1] < row_bottom:
            faults.append("page %s lies over the tab row (its top %d, the tabs' bottom %d)" %
                          (p["name"], area[1], row_bottom))
        if not inside(area, tabs["display"]) and not inside(area, tabs["rect"]):
            faults.append("page %s sticks out of the tab control" % p["name"])
        controls = [c for c in layout["control"] if c["page"] == p["name"] and c["visible"] == "1"]
        faults += page_faults(p["name"], area, controls, dpi)
    return faults


def page_faults(name, area, controls, dpi):
    faults = []

    def label(c):
        return "%s %s %r" % (name, c["id"], c["text"][:24])

    def kind(c):
        return int(c["style"], 16) & 0xF if c["class"].lower() == "button" else None

    for i, c in enumerate(controls):
        r = c["rect"]
        if not inside(r, area):
            faults.append("%s sticks out of its page (%s in %s)" % (label(c), r, area))
        w, h = c["text-size"]
        width = r[2] - r[0]
        if kind(c) in (PUSH, DEFPUSH) and (w > width or h > r[3] - r[1]):
            faults.append("%s: its text (%dx%d) is cut in %dx%d" % (label(c), w, h, width, r[3] - r[1]))
        if kind(c) in MARKED and w + MARK_WIDTH * dpi // BASE_DPI > width:
            faults.append("%s: its text (%d wide) with its box is cut in %d" % (label(c), w, width))
        # A label wraps onto as many lines as its height holds.
        if c["class"].lower() == "static" and w and h and w > width * max(1, (r[3] - r[1]) // h):
            faults.append("%s: its text (%dx%d) is cut in %dx%d" % (label(c), w, h, width, r[3] - r[1]))
        for d in controls[i + 1:]:
            if not overlap(r, d["rect"]):
                continue
            # A group box holds the controls inside it; a control that crosses its edge is cut by it.
            if c.get("buddy") == d["id"] or d.get("buddy") == c["id"]:
                continue
            groups = [g for g in (c, d) if kind(g) == GROUPBOX]
            if len(groups) == 1:
                group, other = (c, d) if groups[0] is c else (d, c)
                if inside(other["rect"], group["rect"]):
                    continue
            faults.append("%s overlaps %s" % (label(c), label(d)))
    return faults


def set_scaling(env, dpi):
    """The prefix at `dpi`, taken by the next Wine server."""
    env.settle()
    env.reg_add_dword(DESKTOP, "LogPixels", dpi)
    subprocess.run([WINESERVER, "-k"], env=env.base, check=False)
    subprocess.run([WINESERVER, "-w"], env=env.base, check=False, timeout=60)


def picture(env, console, name):
    """The console's window out of a screenshot, into the artifacts' scaling folder."""
    shot = screenshot(env, "scaling-screen.png")
    x, y, w, h = window_box(console)
    folder = os.path.join(env.artifacts, "scaling")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, name)
    subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path], check=True,
                   timeout=60)
    return path


def console_at(env, percent, lang):
    dpi = SCALINGS[percent]
    set_scaling(env, dpi)
    reset_registry(env, LANGUAGES[lang])
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up (%s)" % console.state())
        waits = {
            "information": lambda: when_shown(lambda: info_shows_frame(console), bool),
            "configuration": lambda: open_tab(console, frame, 1, len(CONFIG_READS),
                                              lambda: config_shown(console)[0] == FACTORY_SHOWN),
            "calibration": lambda: open_calibration_page(console, frame),
            "options": lambda: open_tab(console, frame, 3, 0),
            "about": lambda: open_tab(console, frame, 4, 0),
        }
        faults = []
        for page in PAGES:
            waits[page]()
            # Time for the page to paint after it changed.
            time.sleep(0.5)
            code, out = console.probe("layout")
            check(code == 0, "no layout of the console (%s)" % console.state())
            with open(os.path.join(env.artifacts, "layout-%s-%d-%s.txt" % (lang, percent, page)), "w") as f:
                f.write(out)
            layout = parse_layout(out)
            check(layout.get("tabs") and layout["tab"], "the layout has no tabs: %s" % out[:200])
            faults += ["%s: %s" % (page, f) for f in layout_faults(layout, dpi, page)]
            picture(env, console, "console-%s-%d-%s.png" % (lang, percent, page))
        check(not faults, "at %d %%: %s" % (percent, "; ".join(faults)))
        return "%d DPI, %d pages laid out whole" % (dpi, len(PAGES))
    finally:
        console.kill()
        frame.stop()
        env.settle()


def scalings():
    return tuple(SCALINGS) if os.environ.get("TACTRA_SCALING") == "full" else SHORT


SCENARIOS = [("console at %d %%, %s" % (percent, lang), lambda env, p=percent, l=lang: console_at(env, p, l))
             for percent in scalings() for lang in LANGUAGES]


def prepare(env):
    return tools_present(env, "window_probe.exe", "TactraConsole.exe", CONSOLE_MODULE_EN, CONSOLE_MODULE_ZH)


def finish(env, code):
    # The other scenarios of the prefix expect 100 %.
    try:
        set_scaling(env, BASE_DPI)
    except Failure:
        pass


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare, finish=finish))

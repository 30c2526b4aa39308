#!/usr/bin/env python3
"""The README's pictures (harness.py): the console's pages and the calibration run against the
simulated frame, in English and in Chinese, as small palette PNGs in the folder --out.

Run by scripts/screenshots, under scripts/with-wine, on a display without a window manager (Wine
then draws the windows' title bars itself, and a window is all that is on the screen where it
stands). The whole screens it captured stay in the artifacts folder.
"""

import argparse
import os
import subprocess
import sys
import time

from console_common import (CONFIG_READS, FACTORY_SHOWN, INFO_REQUESTS, Console, config_shown, info_shows_frame,
                            open_calibration_page, open_tab, reset_registry, when_shown, window_box)
from console_ids import IDC_OPT_CHINESE, IDC_OPT_ENGLISH
from harness import Frame, check, run_scenarios, screenshot
from kelvane_e2e import BUTTON_FILL, CURRENT_PEN, SCREEN, WRITE_RESULT, Kelvane, wait_colour

LANGUAGES = {"en": 0, "zh": 1}
# The console's tabs in their order, by the names the pictures take.
PAGES = ("information", "configuration", "calibration", "options", "about")
# Palette entries of a picture: enough for the text's smoothed edges and the illustrations.
COLOURS = 64
# A target held this long (samples at the finger's 100 Hz) keeps it on the screen for a few
# seconds, so that a picture catches it lit as it blinks.
HOLD_SAMPLES = 400
# The picture of the run shows its fourth target (of five) lit, at the bottom-right corner, with
# the three touched before it.
LIT_BOX = (SCREEN[0] - 64, SCREEN[1] - 64, 64, 64)
OUT = None


def small_png(source, name, crop=None, scale=None):
    """Writes the picture `name` into the output folder: a part of the screenshot `source`
    (x, y, w, h), optionally scaled down, as an 8-bit palette PNG without metadata."""
    argv = ["convert", source]
    if crop:
        argv += ["-crop", "%dx%d+%d+%d" % (crop[2], crop[3], crop[0], crop[1]), "+repage"]
    if scale:
        argv += ["-resize", scale]
    path = os.path.join(OUT, name)
    argv += ["-strip", "-dither", "None", "-colors", str(COLOURS), "-define", "png:compression-level=9",
             "PNG8:" + path]
    subprocess.run(argv, check=True, timeout=60)
    return path


def options_shown(console, language):
    """Whether the options page shows the language the console runs in."""
    controls = console.show()[1]
    checked = [controls[("options", i)]["check"] for i in (IDC_OPT_ENGLISH, IDC_OPT_CHINESE)]
    return checked == (["0", "1"] if language else ["1", "0"])


def console_pages(env, lang):
    """Every page of the console, each once it shows what the frame answered."""
    language = LANGUAGES[lang]
    reset_registry(env, language)
    frame = Frame(env, 3)
    console = Console(env, frame.port)
    try:
        check(console.wait_ready(), "the console did not come up")
        waits = {
            # Shown from the start, and read once the console is ready.
            "information": lambda: when_shown(lambda: info_shows_frame(console), bool),
            "configuration": lambda: open_tab(console, frame, 1, len(CONFIG_READS),
                                              lambda: config_shown(console)[0] == FACTORY_SHOWN),
            "calibration": lambda: open_calibration_page(console, frame),
            "options": lambda: open_tab(console, frame, 3, 0, lambda: options_shown(console, language)),
            "about": lambda: open_tab(console, frame, 4, 0),
        }
        written = []
        for page in PAGES:
            waits[page]()
            # Time for the page to paint after it changed.
            time.sleep(1.0)
            box = window_box(console)
            shot = screenshot(env, "console-%s-%s-screen.png" % (lang, page))
            written.append(small_png(shot, "console-%s-%s.png" % (lang, page), crop=box))
        check(len(frame.received(5)) >= len(INFO_REQUESTS) + len(CONFIG_READS), "the pages read too little")
        return ", ".join(os.path.basename(p) for p in written)
    finally:
        console.kill()
        frame.stop()
        env.settle()


def calibration_run(env, lang):
    """The run with a corner target lit, then its end with the buttons that keep or discard the result;
    Escape discards it."""
    reset_registry(env, LANGUAGES[lang])
    frame = Frame(env, 3, extra=("--hold-samples", str(HOLD_SAMPLES)))
    program = Kelvane(env, frame.port)
    try:
        program.window()
        target = os.path.join(env.artifacts, "run-%s-target-screen.png" % lang)
        check(wait_colour(env, CURRENT_PEN, LIT_BOX, 40, os.path.basename(target)), "no corner target lit")
        written = [small_png(target, "run-%s-target.png" % lang, scale="50%")]
        check(frame.wait_for(WRITE_RESULT, 90), "no calibration result within 90 s")
        complete = os.path.join(env.artifacts, "run-%s-complete-screen.png" % lang)
        check(wait_colour(env, BUTTON_FILL, (0, 0) + SCREEN, 10, os.path.basename(complete)), "no buttons")
        written.append(small_png(complete, "run-%s-complete.png" % lang, scale="50%"))
        program.key("Escape")
        check(program.wait_exit(20), "the program did not end after Escape")
        return ", ".join(os.path.basename(p) for p in written)
    finally:
        program.kill()
        frame.stop()
        env.settle()


SCENARIOS = [(kind + ", " + lang, lambda env, run=run, lang=lang: run(env, lang))
             for lang in LANGUAGES for kind, run in (("console", console_pages), ("run", calibration_run))]


def main():
    global OUT
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True, help="the folder the pictures go to")
    args, rest = parser.parse_known_args()
    OUT = os.path.abspath(args.out)
    os.makedirs(OUT, exist_ok=True)
    return run_scenarios(SCENARIOS, argv=rest)


if __name__ == "__main__":
    sys.exit(main())

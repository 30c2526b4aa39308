#!/usr/bin/env python3
"""TactraConsole.exe end to end under Wine and Xvfb against the native simulated frame (harness.py).

Each scenario checks what the frame received, what the controls show (window_probe.exe), the
registry and the messages (msgbox_probe.exe). Screenshots of every tab in both languages go to
the artifacts folder. The scenarios live in a module per page or area (console_information.py,
console_startup.py, console_options.py, console_configuration.py, console_calibration.py), what they
share in console_common.py; this file runs them, in this order.
"""

import sys

from console_calibration import (scenario_calibration_export, scenario_calibration_import_and_factory,
                                 scenario_calibration_mode_refused, scenario_calibration_option_and_mode,
                                 scenario_calibration_page_chinese, scenario_calibration_program,
                                 scenario_calibration_program_by_full_path, scenario_export_amid_samples,
                                 scenario_two_programs_one_frame, scenario_unrequested_flood)
# What the scripts built on these scenarios (fault_matrix_e2e.py, soak_e2e.py, timings.py,
# install_e2e.py) take from here.
from console_common import (CAL, CAL_ACTIONS, CONFIG_IDS, CONFIG_READS, FIXED_PAUSES_MS, FRAME_INFO,  # noqa: F401
                            GLOBAL, GREYED_SHOWN, HAND_POINTS, INFO_REQUESTS, MODE_BUTTONS, OPEN_TITLE,
                            OPTION_BUTTONS, PLACEHOLDERS, RUN, SAVE_FAILED, SAVE_TITLE, STARTUP, Console,
                            answer_file_dialog, calibration_file, calibration_page, close_with_escape, console_up,
                            open_calibration_page, report, reset_registry, settings_report, wine_version)
from console_configuration import (scenario_config_apply_after_unanswered_read, scenario_config_chinese,
                                   scenario_config_greyed_then_back, scenario_config_later_windows,
                                   scenario_config_no_frame, scenario_config_read_apply,
                                   scenario_config_refusal_and_default)
from console_ids import CONSOLE_MODULE_EN, CONSOLE_MODULE_ZH
from console_information import scenario_first_start, scenario_no_frame
from console_options import scenario_options_and_next_start, scenario_tray
from console_startup import (scenario_chinese_by_argument, scenario_module_missing, scenario_plug_unplug,
                             scenario_staggered_arrival, scenario_stalled_channel)
from harness import BOTH, run_scenarios, timed, tools_present

SCENARIOS = [
    ("first start", scenario_first_start, BOTH),
    ("start without a frame", scenario_no_frame),
    ("plug and unplug, new paths", scenario_plug_unplug),
    ("collections arriving one by one", scenario_staggered_arrival, BOTH),
    ("a channel that stops taking reports", scenario_stalled_channel, BOTH),
    ("options Apply and next start", scenario_options_and_next_start),
    ("tray icon and minimise", scenario_tray),
    ("Chinese by argument", scenario_chinese_by_argument),
    ("language module missing", scenario_module_missing),
    ("config read, Apply, read back", scenario_config_read_apply, BOTH),
    ("config refused write, Default", scenario_config_refusal_and_default),
    ("config greyed, then back", scenario_config_greyed_then_back),
    ("config later Windows", scenario_config_later_windows),
    ("config Chinese", scenario_config_chinese),
    ("config without a frame", scenario_config_no_frame),
    ("calibration option and mode", scenario_calibration_option_and_mode),
    ("calibration mode refused", scenario_calibration_mode_refused),
    ("calibration import and factory", scenario_calibration_import_and_factory),
    ("calibration export", scenario_calibration_export, BOTH),
    ("calibration program", scenario_calibration_program),
    ("calibration program by full path", scenario_calibration_program_by_full_path),
    ("two programs on one frame", scenario_two_programs_one_frame),
    ("calibration page in Chinese", scenario_calibration_page_chinese),
    ("config Apply after an unanswered read", scenario_config_apply_after_unanswered_read),
    ("a flood of refusals nobody asked for", timed(scenario_unrequested_flood), BOTH),
    ("export amid the frame's samples", scenario_export_amid_samples),
]


def prepare(env):
    return tools_present(env, "window_probe.exe", "msgbox_probe.exe", "TactraConsole.exe", CONSOLE_MODULE_EN,
                         CONSOLE_MODULE_ZH)


if __name__ == "__main__":
    sys.exit(run_scenarios(SCENARIOS, prepare))

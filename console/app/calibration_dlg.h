// The calibration page: the frame's calibration option and mode, the calibration program, and
// the calibration file.
#pragma once

#include "console/app/console_page.h"

namespace tactra::console {

class CCalibrationDlg : public ConsolePage {
 public:
  explicit CCalibrationDlg(HINSTANCE resources);
};

}  // namespace tactra::console

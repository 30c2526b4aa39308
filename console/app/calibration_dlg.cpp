#include "console/app/calibration_dlg.h"

#include "resources/console_ids.h"

namespace tactra::console {

CCalibrationDlg::CCalibrationDlg(HINSTANCE resources) : ConsolePage(resources, IDD_PAGE_CALIBRATION) {}

}  // namespace tactra::console

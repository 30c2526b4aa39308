// The about box of the system menu: the language module's about dialog, shown as it stands.
#pragma once

#include "resources/kelvane_ids.h"
#include "ui/dialog.h"

namespace tactra::calib {

class CAboutDlg : public ui::Dialog {
 public:
  explicit CAboutDlg(HINSTANCE resources) : ui::Dialog(resources, IDD_ABOUTBOX) {}
};

}  // namespace tactra::calib

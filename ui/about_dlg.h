// The about box of both programs' system menus: dialog 100 of the language module, shown as it
// stands.
#pragma once

#include "ui/dialog.h"

namespace tactra::ui {

constexpr int kAboutBoxTemplate = 100;

class CAboutDlg : public Dialog {
 public:
  explicit CAboutDlg(HINSTANCE resources) : Dialog(resources, kAboutBoxTemplate) {}
};

}  // namespace tactra::ui

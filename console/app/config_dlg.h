// The configuration page: the frame's adjustable settings. The model decides what every control
// shows; the page moves that to its controls and hands the user's changes back.
#pragma once

#include "console/app/console_page.h"
#include "console/config_page.h"
#include "console/console_model.h"

namespace tactra::console {

class CConfigDlg : public ConsolePage {
 public:
  // `console` runs the buttons' sequences; it may be constructed after the page.
  CConfigDlg(HINSTANCE resources, PageContext context, ConsoleModel& console);
  void Refresh() override;
  CConfigDlgModel& model() { return model_; }

 protected:
  void FieldsToControls() override;
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(const NMHDR& header, LPARAM lParam, INT_PTR& result) override;
  bool OnScroll(UINT message, WPARAM request, HWND bar) override;

 private:
  ConsoleModel& console_;
  CConfigDlgModel model_;
};

}  // namespace tactra::console

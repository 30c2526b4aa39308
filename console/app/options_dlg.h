// The options page: the language of the next start, start at logon, hiding after start.
#pragma once

#include "console/app/console_page.h"
#include "console/console_model.h"
#include "console/options_page.h"

namespace tactra::console {

class COptionsDlg : public ConsolePage {
 public:
  COptionsDlg(HINSTANCE resources, ConsoleModel& console, SettingsStore& store, Messages& messages);
  void Refresh() override { FieldsToControls(); }
  COptionsDlgModel& model() { return model_; }

 protected:
  void FieldsToControls() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  ConsoleModel& console_;
  COptionsDlgModel model_;
};

}  // namespace tactra::console

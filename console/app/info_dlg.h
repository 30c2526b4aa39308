// The information page: what the frame reports about itself, in nine read-only fields.
#pragma once

#include "console/app/console_page.h"
#include "console/info_page.h"

namespace tactra::console {

class CInfoDlg : public ConsolePage {
 public:
  CInfoDlg(HINSTANCE resources, PageContext context);
  void Refresh() override;
  CInfoDlgModel& model() { return model_; }

 protected:
  void FieldsToControls() override;

 private:
  CInfoDlgModel model_;
};

}  // namespace tactra::console

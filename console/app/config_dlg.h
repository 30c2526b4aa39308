// The configuration page: the frame's adjustable settings.
#pragma once

#include "console/app/console_page.h"

namespace tactra::console {

class CConfigDlg : public ConsolePage {
 public:
  explicit CConfigDlg(HINSTANCE resources);

 protected:
  BOOL OnInitDialog() override;
};

}  // namespace tactra::console

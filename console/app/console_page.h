// A page of the console: a modeless child dialog on the main window's tab control. Enter and
// Escape pressed inside it are the main window's to handle: a page never ends itself.
#pragma once

#include "ui/dialog.h"

namespace tactra::console {

class ConsolePage : public ui::Dialog {
 public:
  using ui::Dialog::Dialog;
  // The page's tab was selected; the main window runs it as a sequence of its own.
  virtual void Refresh() {}
  // The model changed outside a refresh (the frame went away): its controls show it again.
  void ShowFields() { FieldsToControls(); }

 protected:
  void OnOK() override {}
  void OnCancel() override {}
};

}  // namespace tactra::console

// The dialog base over a real template: attachment, data exchange in both directions,
// dispatch, and no exception escaping the dialog procedure.
#include <gtest/gtest.h>

#include <stdexcept>

#include "common/win32/handles_win32.h"
#include "common/win32/language_module_win32.h"
#include "resources/kelvane_ids.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/scopes.h"

namespace tactra::ui {
namespace {

constexpr UINT kThrowMessage = WM_APP + 7;
constexpr UINT kEchoMessage = WM_APP + 8;

class ProbeDialog : public Dialog {
 public:
  explicit ProbeDialog(HINSTANCE module) : Dialog(module, IDD_CALIBRATION) {}
  std::wstring instruction = L"start";
  std::wstring countdown = L"20";
  int initCalls = 0;
  int destroyCalls = 0;
  bool okSeen = false;

 protected:
  void FieldsToControls() override {
    SetItemText(hwnd(), IDC_INSTRUCTION, instruction);
    SetItemText(hwnd(), IDC_COUNTDOWN, countdown);
  }
  void ControlsToFields() override {
    instruction = GetItemText(hwnd(), IDC_INSTRUCTION);
    countdown = GetItemText(hwnd(), IDC_COUNTDOWN);
  }
  BOOL OnInitDialog() override {
    ++initCalls;
    return TRUE;
  }
  void OnOK() override {
    okSeen = true;
    Dialog::OnOK();
  }
  void OnDestroy() override { ++destroyCalls; }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) override {
    if (message == kThrowMessage) throw std::runtime_error("handler failed");
    if (message == kEchoMessage) {
      result = static_cast<INT_PTR>(wParam) * 2;
      return true;
    }
    return false;
  }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = win32::LoadLanguageModule(L"KelvaneLangEN.dll");
    ASSERT_TRUE(module_) << "language module missing beside the test";
  }
  win32::UniqueModule module_;
};

TEST_F(DialogTest, FieldsReachTheControlsAtInitAndComeBack) {
  ProbeDialog dialog(module_.get());
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  EXPECT_EQ(dialog.initCalls, 1);
  EXPECT_EQ(GetItemText(dialog.hwnd(), IDC_INSTRUCTION), L"start");
  EXPECT_EQ(GetItemText(dialog.hwnd(), IDC_COUNTDOWN), L"20");

  SetDlgItemTextW(dialog.hwnd(), IDC_INSTRUCTION, L"校准");
  SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  EXPECT_TRUE(dialog.okSeen);
  EXPECT_EQ(dialog.instruction, L"校准") << "OK moves the controls to the fields";
  EXPECT_EQ(dialog.destroyCalls, 1);
  EXPECT_EQ(dialog.hwnd(), nullptr) << "the object lets go of its window";
}

TEST_F(DialogTest, MessagesReachHandlersAndExceptionsStayInside) {
  ProbeDialog dialog(module_.get());
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  HWND window = dialog.hwnd();
  EXPECT_EQ(SendMessageW(window, kEchoMessage, 21, 0), 42);
  EXPECT_EQ(SendMessageW(window, kThrowMessage, 0, 0), 0);
  EXPECT_TRUE(IsWindow(window)) << "the dialog survives a throwing handler";
  EXPECT_EQ(SendMessageW(window, kEchoMessage, 5, 0), 10);
}

TEST_F(DialogTest, ObjectEndingFirstClosesItsModelessWindow) {
  HWND window = nullptr;
  {
    ProbeDialog dialog(module_.get());
    ASSERT_TRUE(dialog.CreateModeless(nullptr));
    window = dialog.hwnd();
  }
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(DialogTest, MissingTemplateFailsCleanly) {
  class Missing : public Dialog {
   public:
    explicit Missing(HINSTANCE m) : Dialog(m, 4321) {}
  } dialog(module_.get());
  EXPECT_FALSE(dialog.CreateModeless(nullptr));
  EXPECT_EQ(dialog.RunModal(nullptr), -1);
}

}  // namespace
}  // namespace tactra::ui

// The dialog base over a real template: attachment, data exchange in both directions,
// dispatch, and no exception escaping the dialog procedure.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

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

// Each kind of message reaches its own hook with its arguments, and its answer goes back the
// way the system expects it: directly for colours and the drag icon, through the message result
// otherwise; a hook that declines leaves the message to the system.
TEST_F(DialogTest, TypedHooksGetTheirMessagesAndAnswerAsTheSystemExpects) {
  static HBRUSH const kBrush = reinterpret_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  static HICON const kIcon = LoadIconW(nullptr, IDI_APPLICATION);
  class Hooked : public Dialog {
   public:
    explicit Hooked(HINSTANCE m) : Dialog(m, IDD_CALIBRATION) {}
    std::vector<std::string> seen;
    bool OnTimer(UINT_PTR id) override {
      seen.push_back("timer " + std::to_string(id));
      return id == 7;
    }
    void OnSize(WPARAM type) override { seen.push_back("size " + std::to_string(type)); }
    bool OnSysCommand(WPARAM command) override {
      seen.push_back("syscommand " + std::to_string(command));
      return true;
    }
    bool OnControlColour(UINT message, HDC, HWND, HBRUSH& brush) override {
      seen.push_back(message == WM_CTLCOLORSTATIC ? "colour static" : "colour other");
      brush = kBrush;
      return message == WM_CTLCOLORSTATIC;
    }
    bool OnDrawItem(const DRAWITEMSTRUCT& item) override {
      seen.push_back("draw " + std::to_string(item.CtlID));
      return true;
    }
    bool OnScroll(UINT message, WPARAM, HWND bar) override {
      seen.push_back(std::string(message == WM_HSCROLL ? "hscroll" : "vscroll") + (bar ? " bar" : " own"));
      return true;
    }
    HICON OnQueryDragIcon() override { return kIcon; }
    bool OnDeviceChange(WPARAM event, LPARAM, INT_PTR& result) override {
      seen.push_back("device " + std::to_string(event));
      result = 0x1234;
      return true;
    }
  } dialog(module_.get());
  ASSERT_TRUE(dialog.CreateModeless(nullptr));
  HWND window = dialog.hwnd();
  HWND control = GetDlgItem(window, IDC_INSTRUCTION);
  DRAWITEMSTRUCT item{};
  item.CtlID = IDOK;
  struct Case {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT answer;
    const char* seen;
  };
  const Case cases[] = {
      {WM_TIMER, 7, 0, 0, "timer 7"},
      {WM_SYSCOMMAND, 0xF123, 0, 0, "syscommand 61731"},
      {WM_CTLCOLORSTATIC, 0, reinterpret_cast<LPARAM>(control), reinterpret_cast<LRESULT>(kBrush),
       "colour static"},
      {WM_DRAWITEM, IDOK, reinterpret_cast<LPARAM>(&item), TRUE, "draw 1"},
      {WM_HSCROLL, 0, reinterpret_cast<LPARAM>(control), 0, "hscroll bar"},
      {WM_VSCROLL, 0, 0, 0, "vscroll own"},
      {WM_QUERYDRAGICON, 0, 0, reinterpret_cast<LRESULT>(kIcon), nullptr},
      {WM_DEVICECHANGE, 0x8000, 0, 0x1234, "device 32768"},
  };
  for (const Case& c : cases) {
    dialog.seen.clear();
    EXPECT_EQ(SendMessageW(window, c.message, c.wParam, c.lParam), c.answer) << std::hex << c.message;
    if (c.seen) {
      EXPECT_EQ(dialog.seen, std::vector<std::string>{c.seen}) << std::hex << c.message;
    }
  }
  // Declined, or always left to the system as well.
  dialog.seen.clear();
  SendMessageW(window, WM_TIMER, 8, 0);
  SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(100, 100));
  EXPECT_EQ(dialog.seen, (std::vector<std::string>{"timer 8", "size 0"}));
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

#include "calibration/double_click.h"

#include <climits>
#include <string>

#include "resources/kelvane_ids.h"

namespace tactra {

namespace {

const wchar_t kMouseKey[] = L"Control Panel\\Mouse";
const wchar_t kHeight[] = L"DoubleClickHeight";
const wchar_t kWidth[] = L"DoubleClickWidth";
const wchar_t kSpeed[] = L"DoubleClickSpeed";

// Three characters and the terminator: a longer stored value fails to read.
constexpr std::size_t kValueCapacity = 4;
constexpr int kLargestUnchanged = 8;

bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

}  // namespace

int LeadingNumber(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    if (value <= INT_MAX) value = value * 10 + (text[i] - L'0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool AdjustDoubleClick(SettingsStore& store, Messages& messages) {
  std::unique_ptr<SettingsKey> key = store.Open(Hive::CurrentUser, kMouseKey);
  if (!key) {
    messages.ShowResourceMessage(IDS_MOUSE_OPEN_FAILED, IDS_CAPTION, L"");
    return false;
  }
  std::wstring height;
  if (!key->ReadString(kHeight, kValueCapacity, height)) {
    messages.ShowResourceMessage(IDS_MOUSE_READ_FAILED, IDS_CAPTION, kHeight);
    return false;
  }
  std::wstring width;
  if (!key->ReadString(kWidth, kValueCapacity, width)) {
    messages.ShowResourceMessage(IDS_MOUSE_READ_FAILED, IDS_CAPTION, kWidth);
    return false;
  }
  if (LeadingNumber(width) > kLargestUnchanged || LeadingNumber(height) > kLargestUnchanged) return true;

  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } kWrites[] = {{kHeight, L"24"}, {kWidth, L"24"}, {kSpeed, L"600"}};
  for (const auto& w : kWrites) {
    if (!key->WriteString(w.name, w.value)) {
      messages.ShowResourceMessage(IDS_MOUSE_WRITE_FAILED, IDS_CAPTION, w.name);
      return false;
    }
  }
  return true;
}

}  // namespace tactra

// The one-way adjustment of the user's double-click settings: a double-click rectangle of at
// most 8 x 8 pixels becomes 24 x 24 pixels with a time of 600 ms.
#pragma once

#include "common/messages.h"
#include "common/settings_store.h"

namespace tactra {

// True when it finished (changed the settings or left them); false after an error message.
// Earlier writes stay when a later one fails.
bool AdjustDoubleClick(SettingsStore& store, Messages& messages);

// The leading decimal number of `text`: leading white space and a sign are allowed, a text
// that starts with no number gives 0, and a number too large for int saturates.
int LeadingNumber(const std::wstring& text);

}  // namespace tactra

// A Messages implementation for tests: records every message instead of showing it, and
// serves texts from a table the test fills.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/messages.h"

namespace tactra::test {

class RecordingMessages : public Messages {
 public:
  struct Resource {
    int textId;
    int captionId;
    std::wstring suffix;
    bool operator==(const Resource& o) const {
      return textId == o.textId && captionId == o.captionId && suffix == o.suffix;
    }
  };
  struct Fixed {
    std::wstring text;
    std::wstring caption;
    bool errorIcon;
    bool operator==(const Fixed& o) const {
      return text == o.text && caption == o.caption && errorIcon == o.errorIcon;
    }
  };

  std::wstring LoadText(int id) override {
    auto it = texts.find(id);
    return it == texts.end() ? std::wstring() : it->second;
  }
  void ShowResourceMessage(int textId, int captionId, const std::wstring& suffix) override {
    resource.push_back({textId, captionId, suffix});
  }
  void ShowFixedMessage(const std::wstring& text, const std::wstring& caption, bool errorIcon) override {
    fixed.push_back({text, caption, errorIcon});
  }

  std::size_t Count() const { return resource.size() + fixed.size(); }

  std::map<int, std::wstring> texts;  // what LoadText serves
  std::vector<Resource> resource;     // ShowResourceMessage calls, in order
  std::vector<Fixed> fixed;           // ShowFixedMessage calls, in order
};

}  // namespace tactra::test

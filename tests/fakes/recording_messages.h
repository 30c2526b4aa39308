// The message seam for tests: records every message instead of showing it, and serves texts
// from a table the test fills ("<id>" for any other id, so that a test sees which one was
// taken). Safe to use from the link's workers and the test's thread at once.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
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
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts.find(id);
    return it == texts.end() ? L"<" + std::to_wstring(id) + L">" : it->second;
  }
  void ShowResourceMessage(int textId, int captionId, const std::wstring& suffix) override {
    std::lock_guard<std::mutex> lock(mutex_);
    resource.push_back({textId, captionId, suffix});
  }
  void ShowFixedMessage(const std::wstring& text, const std::wstring& caption, bool errorIcon) override {
    std::lock_guard<std::mutex> lock(mutex_);
    fixed.push_back({text, caption, errorIcon});
  }

  std::size_t Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return resource.size() + fixed.size();
  }
  // (text id, caption id) of every resource message, in order.
  std::vector<std::pair<int, int>> Shown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<int, int>> out;
    for (const Resource& r : resource) out.emplace_back(r.textId, r.captionId);
    return out;
  }

  // Filled by the test before the code under test runs; read after it has finished.
  std::map<int, std::wstring> texts;  // what LoadText serves
  std::vector<Resource> resource;     // ShowResourceMessage calls, in order
  std::vector<Fixed> fixed;           // ShowFixedMessage calls, in order

 private:
  mutable std::mutex mutex_;
};

}  // namespace tactra::test

// The contract every page of the console keeps. A page decodes a reply into its own fields on
// the link's reader worker, under the page's lock; controls, message boxes and file dialogs are
// touched only on the window's thread. What a reply asks of the window (a message, controls set
// anew) is handed to the window's thread through its queue, so it happens once the request's
// wait is over, also for a reply that comes after the wait has run out.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "common/messages.h"
#include "device/link_port.h"
#include "device/protocol.h"

namespace tactra::console {

// Work a reader worker hands to the window's thread; it runs there in the order posted, when
// the window handles its messages again.
class WindowQueue {
 public:
  virtual ~WindowQueue() = default;
  virtual void Post(std::function<void()> task) = 0;
};

using Pause = std::function<void(std::chrono::milliseconds)>;

// What a page works with: the link's port, the messages, the pauses of its sequences and the
// queue to the window's thread.
struct PageContext {
  LinkPort& link;
  Messages& messages;
  Pause pause;
  WindowQueue& window;
};

// Every message of the console: caption 1080, a plain OK box, an empty suffix unless given.
void ShowMessage(Messages& messages, int textId, const std::wstring& suffix = L"");

// True when no frame is bound, once message 1083 has said so: every page action asks first.
bool NoFrame(const PageContext& context);

// Sends one built request on its channel with the channel's output length; true when a reply
// was handled within the wait. The senders do not branch on it: replies change the fields.
bool Send(LinkPort& link, int channel, const proto::ReportBuffer& request);

}  // namespace tactra::console

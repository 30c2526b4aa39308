#include "console/page_context.h"

#include "resources/console_ids.h"

namespace tactra::console {

void ShowMessage(Messages& messages, int textId, const std::wstring& suffix) {
  messages.ShowResourceMessage(textId, IDS_CAPTION, suffix);
}

bool NoFrame(const PageContext& context) {
  if (context.link.GetLinkState() != kLinkNone) return false;
  ShowMessage(context.messages, IDS_NO_FRAME);
  return true;
}

bool Send(LinkPort& link, int channel, const proto::ReportBuffer& request) {
  const int length = link.GetOutputLength(channel);
  if (length <= 0 || static_cast<std::size_t>(length) > request.size()) return false;
  return link.Transact(channel, request.data(), static_cast<std::size_t>(length));
}

}  // namespace tactra::console

#include "device/link.h"

#include <utility>

#include "device/link_channel.h"

namespace tactra {

namespace {

constexpr std::array<ChannelLengths, kChannelCount> ChannelTable(uint16_t channel3Output) {
  return {{{62, 0}, {9, 2}, {6, 0}, {64, channel3Output}, {48, 48}, {64, 64}}};
}

}  // namespace

LinkConfig ConsoleLinkConfig() {
  LinkConfig config{};
  config.channels = ChannelTable(8);
  config.workerChannels = {3, 4, 5};
  config.workerPause = std::chrono::milliseconds(300);
  config.replyWait = std::chrono::milliseconds(2000);
  config.framing = ReplyFraming::Console;
  config.stateFromStart = false;
  config.takesFrameSamples = false;
  config.anyArrivalFindsAgain = true;
  config.neededChannels = (1u << 4) | (1u << 5);  // the calibration and settings channels
  return config;
}

LinkConfig CalibrationLinkConfig() {
  LinkConfig config{};
  config.channels = ChannelTable(4);
  config.workerChannels = {0, 2, 4};
  config.workerPause = std::chrono::milliseconds(200);
  config.replyWait = std::chrono::milliseconds(20000);
  config.framing = ReplyFraming::Calibration;
  config.stateFromStart = true;
  config.takesFrameSamples = true;
  config.anyArrivalFindsAgain = false;
  config.neededChannels = (1u << 0) | (1u << 4);  // the touch reports and the calibration channel
  return config;
}

void RealSleep(std::chrono::steady_clock::time_point begun, std::chrono::milliseconds length) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = begun + length;
  // However early a sleep returns, the pause lasts until its end.
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    std::this_thread::sleep_for(end - now);
  }
}

Link::Link(HidHost& host, LinkConfig config, Sleeper sleep)
    : host_(host), config_(config), sleep_(sleep ? std::move(sleep) : Sleeper(RealSleep)) {
  for (auto& channel : channels_) channel = std::make_unique<Channel>();
}

Link::~Link() { End(); }

void Link::SetOwner(LinkOwner* owner) { owner_.store(owner); }

void Link::ReleaseBindings() {
  for (auto& channel : channels_) {
    channel->read.reset();
    channel->write.reset();
    channel->path.clear();
  }
}

int Link::Open() {
  const int accepted = Bind();
  for (int i = 0; i < kChannelCount; ++i) OpenChannel(i);
  return accepted;
}

int Link::Bind() {
  // The workers use the handles that are about to be replaced.
  if (!workers_.empty()) StopWorkers();
  state_.store(kLinkNone);
  ReleaseBindings();
  ForgetRequests();  // nothing the old binding was asked is answered any more
  openedPaths_.clear();
  int accepted = 0;
  for (const HidInterface& device : host_.Enumerate()) {
    if (device.outcome == EnumOutcome::AllocationFailed) {
      // What was bound so far stays bound.
      CallOwner([](LinkOwner& owner) { owner.OnLinkEvent(LinkEvent::EnumerationOutOfMemory); });
      break;
    }
    if (device.outcome != EnumOutcome::Ok) continue;
    if (!IsAcceptedDevice(device.vendorId, device.productId)) continue;
    state_.store(kLinkBound);
    openedPaths_.push_back(device.path);
    BindInterface(device);
    ++accepted;  // also when no channel matched
  }
  return accepted;
}

void Link::BindInterface(const HidInterface& device) {
  // A failed capability query leaves lengths 0 and 0, which match no channel.
  const uint16_t input = device.capsOk ? device.inputLength : 0;
  const uint16_t output = device.capsOk ? device.outputLength : 0;
  for (int i = 0; i < kChannelCount; ++i) {
    const ChannelLengths& lengths = config_.channels[i];
    if (lengths.input != input || lengths.output != output) continue;
    // A channel bound earlier in this enumeration is taken over.
    channels_[i]->path = device.path;
    return;
  }
}

void Link::OpenChannel(int channel) {
  Channel& bound = *channels_[channel];
  if (bound.path.empty()) return;
  bound.read = host_.OpenReader(bound.path);
  bound.write = host_.OpenWriter(bound.path);
}

bool Link::Start() {
  deviceCount_ = Bind();
  if (deviceCount_ < 1) {
    if (openedHook_) openedHook_();
    if (config_.stateFromStart) state_.store(kLinkNone);
    return false;
  }
  std::vector<int> starting;
  for (int channel : config_.workerChannels) {
    if (channel >= 0 && channel < kChannelCount) starting.push_back(channel);
  }
  // Each open is a round trip to the frame's host: only the first worker channel's come before
  // the pauses, each further one's within the pause before its workers start, and the channels
  // without workers within the last pause, so that all are open when Start returns.
  std::array<bool, kChannelCount> opened{};
  const auto open = [&](int channel) {
    if (!opened[channel]) OpenChannel(channel);
    opened[channel] = true;
  };
  const auto openTheRest = [&] {
    for (int channel = 0; channel < kChannelCount; ++channel) open(channel);
  };
  if (starting.empty()) {
    openTheRest();
  } else {
    open(starting.front());
  }
  if (openedHook_) openedHook_();
  for (std::size_t i = 0; i < starting.size(); ++i) {
    const auto begun = std::chrono::steady_clock::now();
    StartWorker(true, starting[i]);
    StartWorker(false, starting[i]);
    if (i + 1 < starting.size()) {
      open(starting[i + 1]);
    } else {
      openTheRest();
    }
    sleep_(begun, config_.workerPause);
  }
  if (config_.stateFromStart) state_.store(kLinkBound);
  return true;
}

int Link::GetOutputLength(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0;
  return config_.channels[channel].output;
}

bool Link::IsBoundPath(const std::wstring& path) const {
  if (path.empty()) return false;
  for (const auto& channel : channels_) {
    if (SamePathIgnoringCase(channel->path, path)) return true;
  }
  return false;
}

std::wstring Link::BoundPath(int channel) const {
  return channel >= 0 && channel < kChannelCount ? channels_[static_cast<std::size_t>(channel)]->path
                                                 : std::wstring();
}

bool Link::NeededChannelsBound() const {
  for (int i = 0; i < kChannelCount; ++i) {
    if ((config_.neededChannels >> i & 1u) != 0 && channels_[i]->path.empty()) return false;
  }
  return true;
}

bool Link::Write(int channel, const uint8_t* buffer, std::size_t length) {
  if (state_.load() == kLinkNone) return false;
  if (channel < 0 || channel >= kChannelCount || buffer == nullptr || length == 0) return false;
  HidWriter* handle = channels_[channel]->write.get();
  if (handle == nullptr) return false;
  return handle->Write(buffer, length);
}

bool Link::Transact(int channel, const uint8_t* buffer, std::size_t length) {
  if (channel < 0 || channel >= kChannelCount || buffer == nullptr || length == 0) return false;
  // A reply handled before this point answers an earlier request, not this one.
  reply_.Reset();
  uint64_t request = 0;
  {
    // Open before the write: the frame may answer before Write returns.
    std::lock_guard<std::mutex> lock(awaitMutex_);
    request = ++lastRequest_;
    awaited_[channel] = {proto::KeyOf(buffer, length), request, true};
    waitingFor_ = request;
  }
  const bool written = Write(channel, buffer, length);
  const bool answered =
      written && (waiter_ ? waiter_(reply_, config_.replyWait) : reply_.Wait(config_.replyWait));
  // A frame that stopped taking reports costs this command its wait, not every later one.
  if (written && !answered) {
    if (HidWriter* handle = channels_[channel]->write.get()) handle->CancelWrite();
  }
  std::lock_guard<std::mutex> lock(awaitMutex_);
  waitingFor_ = 0;
  // A request that never went out takes no reply; one that timed out still takes a late one.
  if (!written && awaited_[channel].request == request) awaited_[channel].open = false;
  return answered;
}

uint64_t Link::Claim(int channel, const uint8_t* report, std::size_t length) {
  std::lock_guard<std::mutex> lock(awaitMutex_);
  Awaited& awaited = awaited_[channel];
  if (!awaited.open || !(awaited.key == proto::KeyOf(report, length))) return 0;
  awaited.open = false;
  return awaited.request;
}

void Link::Answered(uint64_t request) {
  std::lock_guard<std::mutex> lock(awaitMutex_);
  // Signalled only for the wait under way: a late reply must not end the next request's wait.
  if (request != 0 && request == waitingFor_) reply_.Set();
}

void Link::ForgetRequests() {
  std::lock_guard<std::mutex> lock(awaitMutex_);
  for (Awaited& awaited : awaited_) awaited.open = false;
}

NoticeOutcome Link::OnDeviceNotice(DeviceNotice notice, const std::wstring& path) {
  if (notice == DeviceNotice::Arrival) {
    if (!HasDevices()) return Start() ? NoticeOutcome::Started : NoticeOutcome::StartFailed;
    if (GetLinkState() == kLinkNone && (config_.anyArrivalFindsAgain || IsBoundPath(path))) {
      StopWorkers();
      return Start() ? NoticeOutcome::Started : NoticeOutcome::StartFailed;
    }
    // The system sets up a frame's collections one by one: bind again as each arrives until
    // every channel the program needs is there. The frame stayed, and so does its state.
    if (GetLinkState() != kLinkNone && !NeededChannelsBound()) {
      const int state = GetLinkState();
      StopWorkers();
      if (!Start()) return NoticeOutcome::StartFailed;
      SetLinkState(state);
      return NoticeOutcome::Started;
    }
    return NoticeOutcome::Nothing;
  }
  if (IsBoundPath(path) && GetLinkState() != kLinkNone) {
    // The workers keep waiting in their reads until the next StopWorkers.
    SetLinkState(kLinkNone);
    return NoticeOutcome::Removed;
  }
  return NoticeOutcome::Nothing;
}

std::vector<std::pair<DeviceNotice, std::wstring>> Link::ChangesSinceOpen() const {
  const auto among = [](const std::vector<std::wstring>& paths, const std::wstring& path) {
    for (const std::wstring& p : paths) {
      if (SamePathIgnoringCase(p, path)) return true;
    }
    return false;
  };
  std::vector<std::wstring> now;
  for (const HidInterface& device : host_.Enumerate()) {
    if (device.outcome == EnumOutcome::AllocationFailed) return {};  // nothing to tell from a part
    if (device.outcome == EnumOutcome::Ok && IsAcceptedDevice(device.vendorId, device.productId)) {
      now.push_back(device.path);
    }
  }
  std::vector<std::pair<DeviceNotice, std::wstring>> changes;
  for (const std::wstring& path : openedPaths_) {
    if (!among(now, path)) changes.emplace_back(DeviceNotice::Removal, path);
  }
  for (const std::wstring& path : now) {
    if (!among(openedPaths_, path)) changes.emplace_back(DeviceNotice::Arrival, path);
  }
  return changes;
}

std::unique_ptr<NoticeRegistration> Link::RegisterArrivalNotifications(void* window,
                                                                       NoticeCallback callback) {
  return host_.RegisterArrivalNotifications(window, std::move(callback));
}

}  // namespace tactra

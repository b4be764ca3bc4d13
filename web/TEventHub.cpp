#include "web/TEventHub.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/JsonText.h"

using infoservice::TInfoClient;
using infoservice::TInfoError;

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The value as a finite number, if the whole text is one.
bool ParseNumber(const std::string& text, double* number) {
  if (text.empty() || text.size() > 64) return false;
  char* end = nullptr;
  *number = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(*number);
}

std::string DataLine(const std::string& json) { return "data: " + json + "\n\n"; }

}  // namespace

// --- TEventStream ----------------------------------------------------------------------------

void TEventStream::Push(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ended_) return;
  if (queue_.size() - sent_ + text.size() > kMaxQueuedBytes) {
    ended_ = true;
    std::string().swap(queue_);
    sent_ = 0;
  } else {
    queue_ += text;
  }
  ready_.notify_all();
}

long TEventStream::Take(char* buffer, size_t max, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, wait, [this] { return ended_ || sent_ < queue_.size(); });
  if (ended_) return -1;
  const size_t count = std::min(max, queue_.size() - sent_);
  std::memcpy(buffer, queue_.data() + sent_, count);
  sent_ += count;
  if (sent_ == queue_.size()) {
    queue_.clear();
    sent_ = 0;
  }
  return static_cast<long>(count);
}

void TEventStream::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  ready_.notify_all();
}

// --- TEventHub -------------------------------------------------------------------------------

TEventHub::TEventHub(TInfoClient& client) : client_(client) {}

TEventHub::~TEventHub() {
  if (subscription_ >= 0) {
    try {
      client_.Unsubscribe(subscription_);
    } catch (const TInfoError&) {
      // The daemon may be gone; the subscription ends with it.
    }
  }
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    stopping_ = true;
  }
  pendingReady_.notify_all();
  if (publisher_.joinable()) publisher_.join();
  EndStreams();
}

void TEventHub::Start() {
  publisher_ = std::thread([this] { RunPublisher(); });
  subscription_ = client_.Subscribe(
      {"*"},
      [this](TInfoClient::TEvent event, const std::string& name) { OnNotification(event, name); });
}

// On the library's observer thread: record and return at once.
void TEventHub::OnNotification(TInfoClient::TEvent event, const std::string& name) {
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    if (pending_.size() >= kMaxPendingNames && pending_.count(name) == 0) {
      pending_.clear();
      overflowed_ = true;
    } else {
      pending_[name] = event == TInfoClient::eRemoved;
    }
  }
  pendingReady_.notify_one();
}

void TEventHub::RunPublisher() {
  for (;;) {
    std::map<std::string, bool> batch;
    bool overflowed = false;
    {
      std::unique_lock<std::mutex> lock(pendingMutex_);
      pendingReady_.wait(lock, [this] { return stopping_ || overflowed_ || !pending_.empty(); });
      if (stopping_) return;
      batch.swap(pending_);
      std::swap(overflowed, overflowed_);
    }
    if (overflowed) Broadcast(DataLine("{\"event\":\"resync\"}"));
    for (const auto& [name, removed] : batch) {
      const std::string text = EventFor(name, removed);
      if (!text.empty()) Broadcast(text);
    }
  }
}

std::string TEventHub::EventFor(const std::string& name, bool removed) {
  std::string value;
  if (!removed) {
    try {
      value = client_.Get(name);
    } catch (const TInfoError& error) {
      // Gone again before we asked: its removal follows, or it was only shadowed.
      if (error.GetCode() != 201) return std::string();
      removed = true;
    }
  }
  if (removed) {
    return DataLine("{\"event\":\"removed\",\"name\":" + JsonString(name) + "}");
  }
  Record(name, value);
  const bool truncated = value.size() > kMaxEventValueBytes;
  const std::string size = std::to_string(value.size());
  if (truncated) value.resize(kMaxEventValueBytes);
  return DataLine("{\"event\":\"changed\",\"name\":" + JsonString(name) +
                  ",\"value\":" + JsonString(value) + ",\"size\":" + size +
                  (truncated ? ",\"truncated\":true}" : "}"));
}

void TEventHub::Broadcast(const std::string& text) {
  std::lock_guard<std::mutex> lock(streamsMutex_);
  for (const auto& stream : streams_) stream->Push(text);
}

std::shared_ptr<TEventStream> TEventHub::OpenStream() {
  std::lock_guard<std::mutex> lock(streamsMutex_);
  if (streams_.size() >= kMaxStreams) return nullptr;
  auto stream = std::make_shared<TEventStream>();
  streams_.insert(stream);
  return stream;
}

void TEventHub::CloseStream(const std::shared_ptr<TEventStream>& stream) {
  stream->End();
  std::lock_guard<std::mutex> lock(streamsMutex_);
  streams_.erase(stream);
}

void TEventHub::EndStreams() {
  std::lock_guard<std::mutex> lock(streamsMutex_);
  for (const auto& stream : streams_) stream->End();
}

void TEventHub::Record(const std::string& name, const std::string& value) {
  double number = 0;
  if (name.compare(0, std::strlen(kStatisticsPrefix), kStatisticsPrefix) != 0 ||
      !ParseNumber(value, &number)) {
    return;
  }
  const long long now = NowMs();
  const long long oldest = now - std::chrono::milliseconds(kHistorySpan).count();
  std::lock_guard<std::mutex> lock(historyMutex_);
  if (history_.size() >= kMaxSeries && history_.count(name) == 0) return;
  auto& points = history_[name];
  points.emplace_back(now, number);
  while (points.size() > kMaxSeriesPoints || points.front().first < oldest) points.pop_front();
}

std::string TEventHub::HistoryJson() {
  const long long now = NowMs();
  const long long oldest = now - std::chrono::milliseconds(kHistorySpan).count();
  std::string text = "{\"now\":" + std::to_string(now) + ",\"series\":{";
  std::lock_guard<std::mutex> lock(historyMutex_);
  bool firstSeries = true;
  for (const auto& [name, points] : history_) {
    text += (firstSeries ? "" : ",") + JsonString(name) + ":[";
    firstSeries = false;
    bool firstPoint = true;
    for (const auto& [time, value] : points) {
      if (time < oldest) continue;
      char point[64];
      std::snprintf(point, sizeof point, "%s[%lld,%.15g]", firstPoint ? "" : ",", time, value);
      text += point;
      firstPoint = false;
    }
    text += "]";
  }
  return text + "}}";
}

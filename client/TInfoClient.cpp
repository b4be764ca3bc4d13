#include "client/TInfoClient.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "base/TException.h"
#include "client/TInfoCache.h"
#include "client/TObserverThread.h"
#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "ipc/TIpcServer.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TNameServiceCaller.h"

namespace infoservice {

namespace {

using TClock = std::chrono::steady_clock;

// After a listing's subscription returned, the marker's notification ends the wait for the
// enumeration; when nothing matches any more, silence for this long ends it instead, and
// the whole wait never outlasts kListLimit.
constexpr std::chrono::seconds kListQuiet{1};
constexpr std::chrono::seconds kListLimit{60};

static_assert(TInfoClient::kDefaultCacheEntries == TInfoCache::kDefaultMaxEntries &&
                  TInfoClient::kDefaultCacheBytes == TInfoCache::kDefaultMaxBytes,
              "the public bounds are the store's");

// A connection to the service's socket on which nothing is ever sent: the kernel ends it when
// the service's process ends, which tells the cache at once, without a call. Throws
// TException when it cannot be made.
TUniqueFd ConnectToPeer(const std::string& address) {
  TIpcAddress parsed;
  if (!TIpcAddress::Parse(address, parsed)) throw TException("bad address '" + address + "'");
  TUniqueFd connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!connection.IsValid()) throw TException(ErrnoMessage("socket", errno));
  sockaddr_un peer{};
  peer.sun_family = AF_UNIX;
  std::memcpy(peer.sun_path, parsed.socketPath.data(), parsed.socketPath.size());
  if (connect(connection.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    throw TException(ErrnoMessage("connect " + parsed.socketPath, errno));
  }
  return connection;
}

IToiInformationService::TStorageType StorageType(TInfoClient::TStorage storage) {
  if (storage != TInfoClient::ePermanent && storage != TInfoClient::eVolatile) {
    throw TInfoError(TInfoError::kInvalidArgument,
                     "unknown storage " + std::to_string(static_cast<int>(storage)));
  }
  return storage == TInfoClient::eVolatile ? IToiInformationService::eVolatile
                                           : IToiInformationService::ePermanent;
}

// What a listing collects: the names seen and not removed since, the first one, and whether
// the marker spoke. Filled on the client's thread, read by the listing one.
struct TListing {
  std::mutex mutex;
  std::condition_variable changed;
  std::set<std::string> names;
  std::string first;
  bool markerSeen = false;
  TClock::time_point last = TClock::now();
};

}  // namespace

TInfoError::TInfoError(int code, const std::string& text)
    : std::runtime_error("error " + std::to_string(code) + ": " + text), code_(code), text_(text) {}

TInfoError::~TInfoError() = default;

struct TInfoClient::TImpl {
  explicit TImpl(const std::string& address) : address_(address) {
    TCIpcClient_Init(&client_);
    TCIpcClient_Init(&threadClient_);
  }
  ~TImpl() {
    std::vector<std::string> observers;
    {
      std::lock_guard<std::mutex> lock(subscriptionsMutex_);
      for (const auto& [id, address] : subscriptions_) observers.push_back(address);
    }
    for (const std::string& observer : observers) {
      try {
        Call([&](IToiInformationService& service) { service.UnsubscribeAllObjects(observer); });
      } catch (const TInfoError&) {
      }
    }
    thread_.reset();
    TCIpcClient_CleanUp(&threadClient_);
    TCIpcClient_CleanUp(&client_);
  }

  // Runs call on the service with the calling thread's connection, turning every failure
  // into TInfoError. The client's own thread has a connection of its own, so a callback that
  // calls the service does not wait for another thread's request.
  template <typename TCall>
  void Call(TCall call) {
    const bool onThread = IsOnThread();
    std::unique_lock<std::mutex> lock(onThread ? threadCallMutex_ : callMutex_);
    TIpcClient& client = onThread ? threadClient_ : client_;
    try {
      TInformationServiceCaller service(&client, Address(client));
      call(service);
    } catch (const TDispatchableException& e) {
      throw TInfoError(e.GetCode(), e.GetText());
    } catch (const TInfoError&) {
      throw;
    } catch (const TException& e) {
      // The service may have restarted with other values: cached copies go.
      if (cacheOn_) LoseConnection();
      throw TInfoError(TInfoError::kUnreachable, "cannot reach the information service at '" +
                                                     address_ + "': " + e.GetText());
    }
  }

  std::string Address(TIpcClient& client) {
    std::lock_guard<std::mutex> lock(addressMutex_);
    if (!address_.empty()) return address_;
    const char* given = getenv("INFOSERVICE_ADDRESS");
    if (given != nullptr && *given != '\0') return address_ = given;
    const char* nameService = getenv("NAMESERVICE_ADDRESS");
    if (nameService == nullptr || *nameService == '\0') {
      throw TInfoError(TInfoError::kUnreachable,
                       "no daemon address: give one, or set INFOSERVICE_ADDRESS or "
                       "NAMESERVICE_ADDRESS");
    }
    std::string found;
    try {
      TNameServiceCaller(&client, nameService).LookupObject("InformationService", found);
    } catch (const TException& e) {
      throw TInfoError(TInfoError::kUnreachable,
                       std::string("cannot look up InformationService at the name service '") +
                           nameService + "': " + e.GetText());
    }
    return address_ = found;
  }

  bool IsOnThread() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    return thread_ && thread_->IsThread();
  }

  TObserverThread& Thread() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (!thread_) {
      try {
        thread_ = std::make_unique<TObserverThread>();
      } catch (const TException& e) {
        throw TInfoError(TInfoError::kUnreachable,
                         std::string("cannot serve subscriptions: ") + e.GetText());
      }
    }
    return *thread_;
  }

  int Subscribe(const std::vector<std::string>& expressions, TCallback callback, bool enumerate) {
    if (!callback) throw TInfoError(TInfoError::kInvalidArgument, "no callback");
    TObserverThread& thread = Thread();
    const int id = NewId();
    const std::string observer = thread.Add(id, [callback](bool removed, const std::string& name) {
      callback(removed ? eRemoved : eChanged, name);
    });
    {
      std::lock_guard<std::mutex> lock(subscriptionsMutex_);
      subscriptions_[id] = observer;
    }
    try {
      Call([&](IToiInformationService& service) {
        service.SubscribeObjects2(expressions, 0, observer, enumerate);
      });
    } catch (...) {
      // Expressions before a refused one were subscribed already.
      Unsubscribe(id, true);
      throw;
    }
    return id;
  }

  void Unsubscribe(int id, bool quietly) {
    std::string observer;
    {
      std::lock_guard<std::mutex> lock(subscriptionsMutex_);
      const auto found = subscriptions_.find(id);
      if (found == subscriptions_.end()) return;
      observer = found->second;
      subscriptions_.erase(found);
    }
    Thread().Remove(id);
    try {
      Call([&](IToiInformationService& service) { service.UnsubscribeAllObjects(observer); });
    } catch (const TInfoError&) {
      if (!quietly) throw;
    }
  }

  // The service has no listing operation; an enumerating subscription delivers the names
  // instead. The subscribe call returns once the service has enumerated, but notifications
  // are one-way: some may still be on their way. Both observers of a listing share the
  // thread's one server socket, and the service keeps one connection per peer socket, so
  // notifications reach them in the order they were sent: a second enumerating subscription,
  // of the marker, to something that exists (the first name seen, else "*") answers after
  // every enumerated name. Should nothing match any more, silence ends the wait.
  std::vector<std::string> List(const std::string& expression) {
    auto listing = std::make_shared<TListing>();
    const auto note = [listing](bool marker, bool removed, const std::string& name) {
      std::lock_guard<std::mutex> lock(listing->mutex);
      listing->last = TClock::now();
      if (marker) {
        listing->markerSeen = true;
      } else if (removed) {
        listing->names.erase(name);
      } else {
        listing->names.insert(name);
        if (listing->first.empty()) listing->first = name;
      }
      listing->changed.notify_all();
    };
    const int main = Subscribe(
        {expression}, [note](TEvent e, const std::string& n) { note(false, e == eRemoved, n); },
        true);
    int marker = 0;
    try {
      std::string known;
      {
        std::lock_guard<std::mutex> lock(listing->mutex);
        known = listing->first;
      }
      const auto onMarker = [note](TEvent e, const std::string& n) {
        note(true, e == eRemoved, n);
      };
      try {
        marker = Subscribe({known.empty() ? "*" : known}, onMarker, true);
      } catch (const TInfoError& e) {
        // An access policy may allow the expression but not "*" or that one name; the
        // expression itself then marks the end (or silence does, when nothing matches).
        if (e.GetCode() != TInfoError::kPermissionDenied) throw;
        marker = Subscribe({expression}, onMarker, true);
      }
      WaitForEnd(*listing);
    } catch (...) {
      Unsubscribe(main, true);
      Unsubscribe(marker, true);
      throw;
    }
    Unsubscribe(main, false);
    Unsubscribe(marker, false);
    std::lock_guard<std::mutex> lock(listing->mutex);
    return std::vector<std::string>(listing->names.begin(), listing->names.end());
  }

  void WaitForEnd(TListing& listing) {
    const TClock::time_point limit = TClock::now() + kListLimit;
    std::unique_lock<std::mutex> lock(listing.mutex);
    listing.last = std::max(listing.last, TClock::now());
    while (!listing.markerSeen) {
      const TClock::time_point now = TClock::now();
      if (now >= limit) {
        throw TInfoError(TInfoError::kUnreachable, "the listing of objects did not end");
      }
      if (now - listing.last >= kListQuiet) return;
      listing.changed.wait_until(lock, std::min(limit, listing.last + kListQuiet));
    }
  }

  // --- the cache (rules in TInfoClient.h) ---

  // A read of a name that may be cached: from memory, or fetched and kept.
  std::string CachedGet(const std::string& name) {
    std::string text;
    switch (cache_.Find(name, text)) {
      case TInfoCache::TLookup::eValue:
        return text;
      case TInfoCache::TLookup::eAbsent:
        throw TInfoError(kUnknownObject, text);
      case TInfoCache::TLookup::eMiss:
        break;
    }
    const std::vector<std::string> covering = cache_.Covering(name);
    if (covering.empty() || !serviceSaysCacheable_) return PlainGet(name);
    // The ticket comes before the subscription check: a loss after it spoils this fetch.
    const TInfoCache::TTicket ticket = cache_.BeginFetch(name);
    bool keep = false;
    bool absent = false;
    try {
      if (!Subscribed(covering)) {
        cache_.EndFetch(name, ticket, false, false, text);
        return PlainGet(name);
      }
      bool cacheable = false;
      Call([&](IToiInformationService& service) { service.GetObject2(name, text, cacheable); });
      keep = cacheable;
    } catch (const TInfoError& e) {
      absent = e.GetCode() == kUnknownObject;
      cache_.EndFetch(name, ticket, absent, absent, e.GetText());
      if (e.GetCode() == TIpcServer::kNoSuchOperation) {
        // A service from before the cache: it cannot say what may be kept.
        serviceSaysCacheable_ = false;
        return PlainGet(name);
      }
      throw;
    }
    cache_.EndFetch(name, ticket, keep, false, text);
    return text;
  }

  std::string PlainGet(const std::string& name) {
    std::string value;
    Call([&](IToiInformationService& service) { service.GetObject(name, value); });
    return value;
  }

  // Makes sure the cache's observer is subscribed to every expression covering the name and
  // that the service's end is watched. False when that failed (the read then is a call).
  // Without enumeration: the subscription is in place before any fetch, and the service
  // serves both on one thread, so every change after a fetch is notified; an enumeration
  // would only drop the copies fetched right after it.
  bool Subscribed(const std::vector<std::string>& covering) {
    // The set-up waits for the client's thread; a callback on that thread must not wait for
    // a set-up in turn, so there it reads by a call instead.
    std::unique_lock<std::mutex> lock(cacheSubscribeMutex_, std::defer_lock);
    if (IsOnThread()) {
      if (!lock.try_lock()) return false;
    } else {
      lock.lock();
    }
    if (lost_.exchange(false)) subscribedExpressions_.clear();
    try {
      if (cacheObserver_.empty()) {
        const int id = NewId();
        cacheObserver_ =
            Thread().Add(id, [this](bool, const std::string& name) { cache_.Drop(name); });
        std::lock_guard<std::mutex> subscriptionsLock(subscriptionsMutex_);
        subscriptions_[id] = cacheObserver_;
      }
      if (subscribedExpressions_.empty()) {
        std::string address;
        {
          std::lock_guard<std::mutex> callLock(callMutex_);
          address = Address(client_);
        }
        Thread().WatchPeer(ConnectToPeer(address), [this] { LoseConnection(); });
      }
      for (const std::string& expression : covering) {
        if (subscribedExpressions_.count(expression) != 0) continue;
        Call([&](IToiInformationService& service) {
          service.SubscribeObject2(expression, 0, cacheObserver_, false);
        });
        subscribedExpressions_.insert(expression);
      }
      return true;
    } catch (const TException&) {
    } catch (const TInfoError&) {
    }
    // Whatever was subscribed stays at the service, harmlessly; it is subscribed anew.
    subscribedExpressions_.clear();
    return false;
  }

  // The service's end went away, or did not answer: nothing kept can be trusted any more.
  void LoseConnection() {
    lost_ = true;
    cache_.DropAll();
  }

  // Drops the copies of names this client wrote, after the write (whatever its outcome).
  template <typename TCall>
  void Write(const std::vector<std::string>& names, TCall call) {
    if (!cache_.HasExpressions()) {
      Call(call);
      return;
    }
    try {
      Call(call);
    } catch (...) {
      for (const std::string& name : names) cache_.Drop(name);
      throw;
    }
    for (const std::string& name : names) cache_.Drop(name);
  }

  int NewId() {
    std::lock_guard<std::mutex> lock(subscriptionsMutex_);
    return ++lastId_;
  }

  static constexpr int kUnknownObject = 201;

  TInfoCache cache_;
  std::atomic<bool> cacheOn_{false};
  std::atomic<bool> serviceSaysCacheable_{true};
  std::atomic<bool> lost_{false};
  std::mutex cacheSubscribeMutex_;
  std::string cacheObserver_;
  std::set<std::string> subscribedExpressions_;

  std::mutex addressMutex_;
  std::string address_;
  std::mutex callMutex_;
  TIpcClient client_;
  std::mutex threadCallMutex_;
  TIpcClient threadClient_;
  std::mutex threadMutex_;
  std::unique_ptr<TObserverThread> thread_;
  std::mutex subscriptionsMutex_;
  std::map<int, std::string> subscriptions_;
  int lastId_ = 0;
};

TInfoClient::TInfoClient(const std::string& address) : impl_(std::make_unique<TImpl>(address)) {}

TInfoClient::~TInfoClient() = default;

void TInfoClient::SetTimeoutMs(int milliseconds) {
  if (milliseconds <= 0) {
    throw TInfoError(TInfoError::kInvalidArgument, "the timeout must be positive");
  }
  std::scoped_lock lock(impl_->callMutex_, impl_->threadCallMutex_);
  impl_->client_.SetCallTimeoutMs(milliseconds);
  impl_->threadClient_.SetCallTimeoutMs(milliseconds);
}

std::string TInfoClient::GetAddress() {
  std::lock_guard<std::mutex> lock(impl_->callMutex_);
  return impl_->Address(impl_->client_);
}

std::string TInfoClient::Get(const std::string& name) {
  if (impl_->cacheOn_) return impl_->CachedGet(name);
  return impl_->PlainGet(name);
}

// From memory only when every name is held there; otherwise one request for all.
std::vector<std::string> TInfoClient::GetObjects(const std::vector<std::string>& names) {
  if (impl_->cacheOn_) {
    std::vector<std::string> values(names.size());
    size_t held = 0;
    for (; held < names.size(); ++held) {
      const auto found = impl_->cache_.Find(names[held], values[held]);
      if (found == TInfoCache::TLookup::eMiss) break;
      if (found == TInfoCache::TLookup::eAbsent) {
        throw TInfoError(TImpl::kUnknownObject, values[held]);
      }
    }
    if (held == names.size()) return values;
  }
  TStringList values;
  impl_->Call([&](IToiInformationService& service) { service.GetObjects(names, values); });
  return values;
}

void TInfoClient::Set(const std::string& name, const std::string& value, TStorage storage) {
  const auto type = StorageType(storage);
  impl_->Write({name},
               [&](IToiInformationService& service) { service.SetObject(name, value, type); });
}

void TInfoClient::SetObjects(const std::vector<std::string>& names,
                             const std::vector<std::string>& values, TStorage storage) {
  const auto type = StorageType(storage);
  if (names.size() != values.size()) {
    throw TInfoError(TInfoError::kInvalidArgument, "as many values as names are needed");
  }
  impl_->Write(names, [&](IToiInformationService& service) {
    service.SetObjects(names, values,
                       std::vector<IToiInformationService::TStorageType>(names.size(), type));
  });
}

void TInfoClient::Unset(const std::string& name, TStorage storage) {
  const auto type = StorageType(storage);
  impl_->Write({name}, [&](IToiInformationService& service) { service.UnsetObject(name, type); });
}

void TInfoClient::UnsetObjects(const std::vector<std::string>& names, TStorage storage) {
  const auto type = StorageType(storage);
  impl_->Write(names, [&](IToiInformationService& service) {
    service.UnsetObjects(names,
                         std::vector<IToiInformationService::TStorageType>(names.size(), type));
  });
}

void TInfoClient::GetToFile(const std::string& name, const std::string& fileName) {
  impl_->Call([&](IToiInformationService& service) { service.GetObjectToFile(name, fileName); });
}

void TInfoClient::SetFromFile(const std::string& name, const std::string& fileName,
                              TStorage storage) {
  const auto type = StorageType(storage);
  impl_->Write({name}, [&](IToiInformationService& service) {
    service.SetObjectFromFile(name, fileName, type);
  });
}

int TInfoClient::Subscribe(const std::vector<std::string>& expressions, TCallback callback) {
  return impl_->Subscribe(expressions, std::move(callback), false);
}

int TInfoClient::Watch(const std::vector<std::string>& expressions, TCallback callback) {
  return impl_->Subscribe(expressions, std::move(callback), true);
}

void TInfoClient::Unsubscribe(int id) { impl_->Unsubscribe(id, false); }

void TInfoClient::Cache(const std::string& expression) {
  if (expression.empty()) throw TInfoError(TInfoError::kInvalidArgument, "empty expression");
  if (!impl_->cache_.AddExpression(expression)) {
    throw TInfoError(TInfoError::kInvalidArgument, "too many cached expressions");
  }
  impl_->cacheOn_ = true;
}

void TInfoClient::SetCacheLimits(size_t entries, size_t bytes) {
  impl_->cache_.SetLimits(entries, bytes);
}

std::vector<std::string> TInfoClient::List(const std::string& expression) {
  return impl_->List(expression);
}

// Reads the listed names in one request; when an object vanished since the listing (201),
// falls back to one request per name and leaves the vanished ones out.
std::map<std::string, std::string> TInfoClient::Dump(const std::string& expression) {
  const std::vector<std::string> names = List(expression);
  std::map<std::string, std::string> objects;
  if (names.empty()) return objects;
  try {
    const std::vector<std::string> values = GetObjects(names);
    for (size_t i = 0; i < names.size() && i < values.size(); ++i) objects[names[i]] = values[i];
    return objects;
  } catch (const TInfoError& e) {
    if (e.GetCode() != 201) throw;
  }
  for (const std::string& name : names) {
    try {
      objects[name] = Get(name);
    } catch (const TInfoError& e) {
      if (e.GetCode() != 201) throw;
    }
  }
  return objects;
}

}  // namespace infoservice

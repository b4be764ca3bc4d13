#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "os/TEpollEventLoop.h"
#include "os/TUniqueFd.h"
#include "tests/ipc/TIpcTestSupport.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TToiInformationObserverCaller.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace {

using TStorage = IToiInformationService::TStorageType;

// A listening socket at a valid address that the test drives by hand; Accept() takes the
// first connection on a thread of its own, and Held() waits for it.
class TRawPeer final {
 public:
  explicit TRawPeer(const std::string& directory, const std::string& name = "raw")
      : path_(directory + "/" + name + ".sock"),
        listener_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    EXPECT_EQ(bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(listener_.Get(), 8), 0);
    acceptor_ =
        std::thread([this] { held_ = TUniqueFd(accept(listener_.Get(), nullptr, nullptr)); });
  }
  ~TRawPeer() {
    ::shutdown(listener_.Get(), SHUT_RDWR);  // ends an accept that nobody answered
    Held();
  }
  std::string Address() const { return TIpcAddress::Format(path_, 1); }
  TUniqueFd& Held() {
    if (acceptor_.joinable()) acceptor_.join();
    return held_;
  }

 private:
  std::string path_;
  TUniqueFd listener_;
  TUniqueFd held_;
  std::thread acceptor_;
};

class TIpcClientTest : public ::testing::Test {
 protected:
  test::TRootDir root_;
  TIpcClient client_;
};

// The text of the local failure of a call; a served error is not what a broken peer gives.
std::string LocalFailure(TIpcClient& client, const std::string& address) {
  std::string value;
  try {
    TInformationServiceCaller(&client, address).GetObject("n", value);
  } catch (const TDispatchableException&) {
    ADD_FAILURE() << "a broken peer is not a served error";
  } catch (const TException& error) {
    return error.GetText();
  }
  return "no exception";
}

// A peer that closes mid-call, a peer that never answers, and unreachable or invalid
// addresses each give an exception at once or after the call timeout.
TEST_F(TIpcClientTest, BrokenPeersGiveLocalExceptions) {
  {
    TRawPeer dying(root_.Path(), "dying");
    std::thread closer([&] { dying.Held().Reset(); });
    EXPECT_NE(LocalFailure(client_, dying.Address()), "no exception");
    closer.join();
  }
  TRawPeer silent(root_.Path(), "silent");
  client_.SetCallTimeoutMs(50);
  EXPECT_NE(LocalFailure(client_, silent.Address()).find("timed out"), std::string::npos);
  const std::string gone = TIpcAddress::Format(root_.Path() + "/none.sock", 1);
  EXPECT_NE(LocalFailure(client_, gone).find("none.sock"), std::string::npos);
  EXPECT_THROW(TToiInformationObserverCaller(&client_, "not an address").OnObjectsChanged({"a"}),
               TException);
  EXPECT_THROW(TToiInformationObserverCaller(&client_, gone).OnObjectsRemoved({"a"}), TException);
}

int SocketCount() {
  int sockets = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    int type = 0;
    socklen_t size = sizeof type;
    sockets += getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0;
  }
  return sockets;
}

TEST_F(TIpcClientTest, ConnectionIsReusedAcrossCallsAndAddressesAreValidated) {
  TServedFake served;
  TInformationServiceCaller first(&client_, served.Address());
  TInformationServiceCaller second(&client_, served.Address());
  std::string value;
  first.GetObject("a", value);
  second.GetObject("a", value);
  const int sockets = SocketCount();
  TIpcClient other;
  TInformationServiceCaller(&other, served.Address()).GetObject("a", value);
  for (int i = 0; i < 20; ++i) first.GetObject("a", value);
  EXPECT_EQ(SocketCount(), sockets + 2);  // the new client's end and the server's end
  EXPECT_TRUE(TCIpcClient_ValidateAddress(served.Address()));
  EXPECT_TRUE(TCIpcClient_ValidateAddress("ipc:/tmp/infoservice-ipc/s1-1.sock#4294967295"));
  for (const std::string& bad : std::vector<std::string>{
           "", "ipc:", "ipc:/tmp/x.sock#0", "ipc:/tmp/x.sock#03", "ipc:/tmp/x.sock#",
           "ipc:/tmp/x.sock#4294967296", "ipc:/tmp/x.sock#1a", "ipc:tmp/x.sock#1", "ipc:/tmp/x#1",
           "unix:/tmp/x.sock#1", "ipc:/tmp/a#b.sock#1", "ipc:/.sock#1", "ipc:/tmp/longer#1",
           "ipc:/tmp/x.sock", "ipc:/tmp/\x01.sock#1",
           "ipc:/" + std::string(110, 'a') + ".sock#1"}) {
    EXPECT_FALSE(TCIpcClient_ValidateAddress(bad)) << bad;
  }
  EXPECT_FALSE(TCIpcClient_ValidateAddress(std::string("ipc:/tmp/x.sock#1\0", 18)));
}

// Counts the notifications of a subscriber served on its own thread.
class TCountingObserver final : public IToiInformationObserver {
 public:
  void OnObjectsChanged(const TStringList&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++changed_;
    condition_.notify_all();
  }
  void OnObjectsRemoved(const TStringList&) override {}
  int WaitFor(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    condition_.wait_for(lock, std::chrono::seconds(20), [&] { return changed_ >= count; });
    return changed_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  int changed_ = 0;
};

// One subscriber accepts its connection but never reads, another has gone, a third is healthy
// until it goes away after being served: 1000 sets all complete, the healthy subscriber gets
// every notification while it lives, and after it has gone only its deliveries are lost.
TEST_F(TIpcClientTest, StalledAndDeadSubscribersDoNotHoldUpSets) {
  TServedFake served;
  TInformationServiceCaller service(&client_, served.Address());
  TRawPeer notReading(root_.Path());
  TCountingObserver healthy;
  TEpollEventLoop healthyLoop;
  auto healthyServer = std::make_unique<TIpcServer>(healthyLoop);
  const std::string healthyAddress = healthyServer->CreateObject();
  auto dispatcher =
      std::make_unique<TToiInformationObserverDispatcher>(*healthyServer, healthyAddress, healthy);
  std::thread healthyThread([&] { healthyLoop.Run(); });
  service.SubscribeObject("*", 1, notReading.Address());
  service.SubscribeObject("*", 2, TIpcAddress::Format(root_.Path() + "/dead.sock", 1));
  service.SubscribeObject("*", 3, healthyAddress);
  for (int i = 0; i < 1000; ++i)
    service.SetObject("n." + std::to_string(i), "v", TStorage::eVolatile);
  EXPECT_GE(served.Fake().FailedDeliveries(), 1000);  // every one to the dead subscriber
  EXPECT_EQ(healthy.WaitFor(1000), 1000);
  healthyLoop.Stop();
  healthyThread.join();
  dispatcher.reset();
  healthyServer.reset();
  const int failed = served.Fake().FailedDeliveries();
  for (int i = 0; i < 3; ++i) service.SetObject("a", std::to_string(i), TStorage::eVolatile);
  EXPECT_GE(served.Fake().FailedDeliveries(), failed + 3 + 2);
  EXPECT_EQ(served.Fake().Value("a"), "2");
}

// A peer that never reads gets what its socket and the bounded queue hold; beyond that a
// delivery is dropped at once with an exception instead of waiting for the peer. Once the
// peer reads, its connection works again.
TEST_F(TIpcClientTest, DeliveryBeyondQueueOfNonReadingPeerIsDropped) {
  TRawPeer peer(root_.Path());
  TToiInformationObserverCaller caller(&client_, peer.Address());
  const TStringList big{std::string(64 * 1024, 'n')};
  int delivered = 0;
  std::string dropped;
  for (int i = 0; i < 200 && dropped.empty(); ++i) {
    try {
      caller.OnObjectsChanged(big);
      ++delivered;
    } catch (const TException& error) {
      dropped = error.GetText();
    }
  }
  EXPECT_NE(dropped.find("not reading"), std::string::npos);
  EXPECT_GE(delivered, static_cast<int>(TIpcClient::kMaxQueuedBytes / big[0].size()));
  std::vector<char> sink(1 << 20);
  for (int round = 0; round < 2; ++round) {
    while (recv(peer.Held().Get(), sink.data(), sink.size(), MSG_DONTWAIT) > 0) {
    }
    client_.FlushQueues(0);
  }
  EXPECT_NO_THROW(caller.OnObjectsChanged({"small"}));
}

// Deliveries queued by a client built with a loop leave as soon as the peer reads again,
// without another delivery to push them; a peer that hangs up between uses is let go at once,
// not at its next use (which, for a subscriber that ended, never comes).
TEST_F(TIpcClientTest, QueuedDeliveriesDrainFromLoopWhenPeerReadsAgain) {
  TRawPeer peer(root_.Path());
  TEpollEventLoop loop;
  TIpcClient client(loop);
  TToiInformationObserverCaller caller(&client, peer.Address());
  const TStringList names{std::string(16 * 1024, 'n')};
  size_t delivered = 0;
  for (; delivered < 64 && client.GetQueuedBytes() == 0; ++delivered) {
    caller.OnObjectsChanged(names);
  }
  ASSERT_GT(client.GetQueuedBytes(), 0u);  // the queue waits for writability
  size_t received = 0;
  std::vector<char> sink(1 << 16);
  const int held = peer.Held().Get();
  for (int pass = 0; pass < 10000 && client.GetQueuedBytes() > 0; ++pass) {
    const ssize_t got = recv(held, sink.data(), sink.size(), MSG_DONTWAIT);
    if (got > 0) received += static_cast<size_t>(got);
    loop.RunOnce(0);
  }
  for (ssize_t got; (got = recv(held, sink.data(), sink.size(), MSG_DONTWAIT)) > 0;) {
    received += static_cast<size_t>(got);
  }
  EXPECT_EQ(client.GetQueuedBytes(), 0u);
  EXPECT_EQ(received, delivered * (16 + 4 + 4 + names[0].size()));
  EXPECT_EQ(client.GetConnectionCount(), 1u);
  peer.Held().Reset();
  for (int pass = 0; pass < 100 && client.GetConnectionCount() > 0; ++pass) loop.RunOnce(10);
  EXPECT_EQ(client.GetConnectionCount(), 0u);
  EXPECT_EQ(loop.GetDescriptorCount(), 0u);
}

}  // namespace

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>
#include <thread>

#include "ipc/TIpcAddress.h"
#include "ipc/TIpcFrame.h"
#include "ipc/TIpcServer.h"
#include "ipc/TIpcWriter.h"
#include "os/TEpollEventLoop.h"
#include "os/TUniqueFd.h"
#include "tests/ipc/TIpcTestSupport.h"
#include "toi/TInformationServiceCaller.h"
#include "toi/TToiInformationObserverDispatcher.h"

namespace {

using TStorage = IToiInformationService::TStorageType;

TUniqueFd ConnectRaw(const std::string& socketPath) {
  TUniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  EXPECT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval tv{10, 0};  // a guard against a server bug hanging the test, never reached
  setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

// True when the server closed the connection (after reading what we sent).
bool ServerClosed(int fd) {
  char buffer[256];
  for (int i = 0; i < 100; ++i) {
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got == 0) return true;
    if (got < 0) return errno == ECONNRESET;
  }
  return false;
}

class TIpcServerTest : public ::testing::Test {
 protected:
  test::TRootDir root_;
  TServedFake served_;
  TIpcClient client_;
  TInformationServiceCaller caller_{&client_, served_.Address()};
};

// Sockets live in the runtime directory, reachable by owner and group only; a new server
// removes the sockets of dead processes, nothing else, and its own when it goes.
TEST_F(TIpcServerTest, SocketsLiveInRuntimeDirectoryAndDeadProcessesSocketsAreRemoved) {
  const std::string directory = root_.Path() + "/tmp/infoservice-ipc/";
  const std::string& path = served_.Server().GetSocketPath();
  EXPECT_EQ(path.rfind(directory, 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat(directory.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0770u);
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0007, 0u);
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const std::string dead = directory + "s" + std::to_string(child) + "-1.sock";
  const std::string living = directory + "s1-1.sock";  // init never dies
  for (const auto& file : {dead, living, directory + "notes.txt"}) test::WriteFile(file, "");
  std::string secondPath;
  {
    TEpollEventLoop loop;
    TIpcServer second(loop);
    secondPath = second.GetSocketPath();
    EXPECT_FALSE(test::FileExists(dead));
    EXPECT_EQ(test::ListDirectory(directory).size(), 4u);  // living, notes, path, secondPath
  }
  EXPECT_FALSE(test::FileExists(secondPath));  // removed with its server
  EXPECT_TRUE(test::FileExists(path));
}

// Each call reaches its implementation with its arguments ("@" stands for the address);
// values with NUL bytes and of a mebibyte travel whole both ways.
TEST_F(TIpcServerTest, EveryOperationReachesItsImplementationWithItsArguments) {
  const std::string a = "ipc:/x/y.sock#9";
  const TStringList two{"a.b", "c.*"};
  std::string value;
  TStringList values;
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { caller_.GetObject("n", value); }, "GetObject(n)"},
      {[&] { caller_.GetObjects(two, values); }, "GetObjects([a.b,c.*])"},
      {[&] { caller_.GetObjectToFile("n", "/f"); }, "GetObjectToFile(n,/f)"},
      {[&] { caller_.SetObject("n", "vv", TStorage::eVolatile); }, "SetObject(n,2,1)"},
      {[&] {
         caller_.SetObjects(two, {"1", ""}, {TStorage::eVolatile, TStorage::ePermanent});
       },
       "SetObjects([a.b,c.*],[1,],10)"},
      {[&] { caller_.SetObjectFromFile("n", "/f", TStorage::ePermanent); },
       "SetObjectFromFile(n,/f,0)"},
      {[&] { caller_.UnsetObject("n", static_cast<TStorage>(-5)); }, "UnsetObject(n,-5)"},
      {[&] { caller_.UnsetObjects(two, {}); }, "UnsetObjects([a.b,c.*],)"},
      {[&] { caller_.SubscribeObject("e", -7, a); }, "SubscribeObject(e,-7,@)"},
      {[&] { caller_.SubscribeObject2("e", 2147483647, a, false); },
       "SubscribeObject2(e,2147483647,@,0)"},
      {[&] { caller_.SubscribeObjects(two, 3, a); }, "SubscribeObjects([a.b,c.*],3,@)"},
      {[&] { caller_.SubscribeObjects2({}, 4, a, true); }, "SubscribeObjects2([],4,@,1)"},
      {[&] { caller_.UnsubscribeObject("e", a); }, "UnsubscribeObject(e,@)"},
      {[&] { caller_.UnsubscribeObjects(two, a); }, "UnsubscribeObjects([a.b,c.*],@)"},
      {[&] { caller_.UnsubscribeAllObjects(""); }, "UnsubscribeAllObjects()"},
      {[&] { caller_.SubscribeObjectInternal("e", a); }, "SubscribeObjectInternal(e,@)"},
      {[&] { caller_.SubscribeObject2Internal("e", a, true); }, "SubscribeObject2Internal(e,@,1)"},
      {[&] { caller_.SubscribeObjectsInternal(two, a); }, "SubscribeObjectsInternal([a.b,c.*],@)"},
      {[&] { caller_.SubscribeObjects2Internal(two, a, false); },
       "SubscribeObjects2Internal([a.b,c.*],@,0)"},
  };
  for (const auto& [call, expected] : cases) {
    call();
    std::string text = expected;
    if (text.find('@') != std::string::npos) text.replace(text.find('@'), 1, a);
    EXPECT_EQ(served_.Fake().LastCall(), text);
  }
  EXPECT_EQ(served_.Fake().Calls().size(), std::size(cases));
  const std::string withNul("a\0b\0\0c", 6);
  std::string big(1024 * 1024, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  caller_.SetObject(withNul, big, TStorage::ePermanent);
  caller_.SetObject("empty", "", TStorage::ePermanent);
  values = {"replaced"};
  caller_.GetObjects({"empty", withNul, "empty"}, values);
  EXPECT_EQ(values, (TStringList{"", big, ""}));
}

// A served error keeps its code and text, any other failure of the implementation is an
// internal error, an object without a dispatcher is no such object; the connection stays
// usable after each.
TEST_F(TIpcServerTest, FailuresReachTheCallerWithCodeAndTextAndServingGoesOn) {
  TInformationServiceCaller unserved(&client_, served_.Server().CreateObject());
  const std::tuple<TInformationServiceCaller*, const char*, std::string> cases[] = {
      {&caller_, "missing.name", "201 Unknown object"},
      {&caller_, "boom", std::to_string(TIpcServer::kInternalError) + " Internal error"},
      {&unserved, "n", std::to_string(TIpcServer::kNoSuchObject) + " No such object"}};
  std::string value;
  for (const auto& [caller, name, refusal] : cases) {
    EXPECT_EQ(test::Refusal([&] { caller->GetObject(name, value); }), refusal);
    caller_.SetObject("x", name, TStorage::eVolatile);
    caller_.GetObject("x", value);
    EXPECT_EQ(value, name);
  }
}

TEST_F(TIpcServerTest, MalformedFramesCloseOnlyTheirConnection) {
  const std::string path = served_.Server().GetSocketPath();
  TIpcAddress target;
  ASSERT_TRUE(TIpcAddress::Parse(served_.Address(), target));
  // A valid GetObject frame whose string length runs past the payload.
  TIpcWriter truncatedArguments;
  truncatedArguments.Put(std::string("abc"));
  std::string badArguments = truncatedArguments.Finish(TIpcFrameKind::eCall, 1, 1, target.objectId);
  badArguments[19] = 9;  // length 9 but only 3 bytes follow
  // A SubscribeObject2 whose flag byte is 2.
  TIpcWriter badBool;
  badBool.Put(std::string("e"));
  badBool.Put(static_cast<int32_t>(1));
  badBool.Put(std::string("a"));
  std::string wrongBool = badBool.Finish(TIpcFrameKind::eCall, 10, 1, target.objectId);
  wrongBool.push_back(2);
  wrongBool[3] = static_cast<char>(wrongBool[3] + 1);
  for (const std::string& input :
       {std::string("GET / HTTP/1.0\r\n\r\n"), std::string("\xff\xff\xff\xff", 4),  // oversized
        badArguments, wrongBool}) {
    TUniqueFd raw = ConnectRaw(path);
    ASSERT_EQ(send(raw.Get(), input.data(), input.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(input.size()));
    EXPECT_TRUE(ServerClosed(raw.Get())) << "input of " << input.size() << " bytes";
  }
  // A frame cut off before its end, then the sender goes away; a stalled half frame on one
  // connection does not block another client.
  ASSERT_EQ(send(ConnectRaw(path).Get(), badArguments.data(), 10, MSG_NOSIGNAL), 10);
  TUniqueFd stalled = ConnectRaw(path);
  ASSERT_EQ(send(stalled.Get(), badArguments.data(), 10, MSG_NOSIGNAL), 10);
  std::string value;
  caller_.SetObject("still", "serving", TStorage::eVolatile);
  caller_.GetObject("still", value);
  EXPECT_EQ(value, "serving");
}

TEST_F(TIpcServerTest, DispatcherDestroyedStopsRouting) {
  TEpollEventLoop loop;
  TIpcServer server(loop);
  TIpcClient serverClient(loop);
  TFakeInformationService fake(serverClient);
  const std::string address = server.CreateObject();
  EXPECT_THROW(TInformationServiceDispatcher(server, served_.Address(), fake), TException);
  EXPECT_THROW(TInformationServiceDispatcher(server, "ipc:/elsewhere.sock#1", fake), TException);
  {
    TInformationServiceDispatcher dispatcher(server, address, fake);
    EXPECT_THROW(TInformationServiceDispatcher(server, address, fake), TException);
  }
  std::thread thread([&] { loop.Run(); });
  std::string value;
  EXPECT_THROW(TInformationServiceCaller(&client_, address).GetObject("n", value),
               TRemoteException);
  loop.Stop();
  thread.join();
  EXPECT_TRUE(fake.Calls().empty());
}

// A process that serves an observer and calls the service from the same thread: the
// notification caused by its own set waits in its socket until it runs its loop.
TEST_F(TIpcServerTest, SubscribeThenSetFromSameThreadGetsReplyAndNotification) {
  class TObserver final : public IToiInformationObserver {
   public:
    std::vector<std::string> changed;
    void OnObjectsChanged(const TStringList& names) override { changed.push_back(Text(names)); }
    void OnObjectsRemoved(const TStringList&) override {}
  } observer;
  TEpollEventLoop loop;
  TIpcServer own(loop);
  const std::string ownAddress = own.CreateObject();
  TToiInformationObserverDispatcher dispatcher(own, ownAddress, observer);
  caller_.SubscribeObject("cfg.*", 5, ownAddress);
  caller_.SetObject("cfg.x", "1", TStorage::ePermanent);
  for (int pass = 0; pass < 100 && observer.changed.empty(); ++pass) loop.RunOnce(1000);
  EXPECT_EQ(observer.changed, std::vector<std::string>{"[cfg.x]"});
}

}  // namespace

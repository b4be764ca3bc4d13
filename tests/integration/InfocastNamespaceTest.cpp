// End to end over real multicast: infocast-send sends an object to a group and an Infocast
// channel receives it. Both run inside a network namespace this test creates (a veth pair
// with eth0 inside, a route for 224.0.0.0/4 on eth0) and deletes; the sender's TTL is 0, so
// nothing leaves the namespace. Without the rights to create one the test skips and says why.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "infocast/TInfocastChannel.h"
#include "os/TEpollEventLoop.h"
#include "tests/TestSupport.h"
#include "tests/infocast/InfocastChannelTestSupport.h"

namespace {

constexpr const char* kGroup = "239.7.7.7";
constexpr int kPort = 47000;  // inside a namespace of our own: nobody else binds it

bool Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class TNamespace final {
 public:
  TNamespace() : name_("isrx" + std::to_string(getpid())) {
    const std::string peer = "vis" + std::to_string(getpid());
    ok_ = Shell("ip netns add " + name_) &&
          Shell("ip link add " + peer + " type veth peer name eth0 netns " + name_) &&
          Shell("ip -n " + name_ + " link set lo up") &&
          Shell("ip -n " + name_ + " link set eth0 up") &&
          Shell("ip -n " + name_ + " addr add 169.254.77.2/24 dev eth0") &&
          Shell("ip link set " + peer + " up") &&
          Shell("ip -n " + name_ + " route add 224.0.0.0/4 dev eth0");
  }
  ~TNamespace() { Shell("ip netns del " + name_); }  // takes the veth pair with it
  bool Ok() const { return ok_; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  bool ok_ = false;
};

// In a child that has entered the namespace: a channel on the group, until the object
// arrives or 10 s of loop passes went by. Exit code 0 when the object arrived intact.
[[noreturn]] void ReceiveInNamespace(const std::string& name, int ready) {
  const int ns = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) _exit(3);
  test::TFakeObjects objects;
  test::TFakeAliases aliases;
  test::TRecordingOwner owner;
  test::TRecordingTracker tracker;
  TEpollEventLoop loop;
  TInfocastChannel channel(kGroup, kPort, TInfocastChannel::Persistent, 0, 0, 1600,
                           TInfocastChannel::Normal, objects, aliases, loop, IClock::System(),
                           tracker);
  channel.SetCallback(&owner);
  channel.AddObject("cfg.e2e", 1);
  if (tracker.Holds(TTracker::kError, "")) _exit(4);  // the join must succeed here
  const char byte = 'r';
  if (write(ready, &byte, 1) != 1) _exit(5);
  for (int pass = 0; pass < 100 && owner.held.count("cfg.e2e") == 0; ++pass) loop.RunOnce(100);
  _exit(owner.held["cfg.e2e"] == std::string(3000, 'e') ? 0 : 6);
}

TEST(InfocastNamespaceTest, ChannelReceivesAnObjectSentToItsGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
  TNamespace ns;
  if (!ns.Ok()) GTEST_SKIP() << "ip netns add (or the veth pair in it) is not possible here";
  test::TTempDir dir;
  test::WriteFile(dir.File("value"), std::string(3000, 'e'));  // three datagrams

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    ReceiveInNamespace(ns.Name(), pipeFds[1]);
  }
  close(pipeFds[1]);
  char byte = 0;
  const bool ready = read(pipeFds[0], &byte, 1) == 1;
  close(pipeFds[0]);
  int status = 0;
  pid_t ended = 0;
  if (ready) {
    const std::string send = std::string("ip netns exec ") + ns.Name() + " " +
                             INFOSERVICE_INFOCAST_SEND_PATH + " --ttl 0 --name cfg.e2e " + kGroup +
                             ":" + std::to_string(kPort) + " " + dir.File("value");
    // A few sends in case the first one raced the child's first wait; the child ends the
    // moment it has the object.
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_TRUE(Shell(send));
      usleep(200 * 1000);
      ended = waitpid(child, &status, WNOHANG);
      if (ended != 0) break;
    }
  }
  if (ended == 0) ended = waitpid(child, &status, 0);
  ASSERT_EQ(ended, child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: setns, 4: join failed, 6: object not received";
}

}  // namespace

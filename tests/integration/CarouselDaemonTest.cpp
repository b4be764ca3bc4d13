// infocast-carousel feeding the real daemon over loopback, through a change and a refusal.
#include <gtest/gtest.h>

#include "os/TUdpSocket.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

TEST(CarouselDaemonTest, DaemonGetsEveryObjectThenAChangedOneAndBadDescriptionsAreRefused) {
  TTempRoot root;
  TDaemon daemon(root);
  const std::string meta = "127.0.0.1:" + std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  const std::string port = std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  auto describe = [&](const std::string& file) {
    const std::string object = "<Object fetch=\"Prefetch\" name=";
    WriteFile(root.File("d.new"), "<Infocast>\n<Channel address=\"127.0.0.1\" port=\"" + port +
                                      "\" connection=\"Persistent\" rate=\"512k\">\n" + object +
                                      "\"cfg.a\" file=\"" + file + "\"/>\n" + object +
                                      "\"var.long\" file=\"long\"/></Channel></Infocast>\n");
    return rename(root.File("d.new").c_str(), root.File("d.xml").c_str()) == 0;
  };
  auto holds = [&](const std::string& name, const std::string& value) {
    return WaitUntil([&] { return daemon.Get(name) == value; });
  };
  const TArgs carousel = {BinaryPath("infocast-carousel"), "--meta", meta, root.File("d.xml")};
  WriteFile(root.File("a"), "hello");
  WriteFile(root.File("long"), std::string(4000, 'l'));  // three datagrams
  ASSERT_TRUE(describe("missing"));
  const TResult refused = RunProgram(root, carousel);  // refused before anything is sent
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(refused.err.find("d.xml:3: cannot open"), std::string::npos) << refused.err;

  ASSERT_TRUE(describe("a"));
  ASSERT_TRUE(daemon.StartStandalone({"-m", meta}));
  TProcess sender(root, carousel);
  EXPECT_TRUE(holds("cfg.a", "hello")) << sender.Err();
  EXPECT_TRUE(holds("var.long", std::string(4000, 'l')));
  WriteFile(root.File("a.new"), "bonjour");
  ASSERT_EQ(rename(root.File("a.new").c_str(), root.File("a").c_str()), 0);
  EXPECT_TRUE(holds("cfg.a", "bonjour"));
  ASSERT_TRUE(describe("missing"));  // the old description keeps playing
  sender.Signal(SIGHUP);
  EXPECT_TRUE(sender.WaitForOutput("d.xml:3: "));
  EXPECT_TRUE(sender.Poll());
  sender.Signal(SIGTERM);
  EXPECT_EQ(sender.Wait(), 0);
}

}  // namespace
}  // namespace integration

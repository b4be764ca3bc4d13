// The head-end feeding a real daemon over loopback: infocast-carousel plays a description,
// the daemon receives the configuration on its meta channel and then every object, and a
// changed source file reaches it without a restart.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>

#include <string>

#include "os/TUdpSocket.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

uint16_t FreePort() { return TUdpSocket("127.0.0.1", 0).GetPort(); }

class CarouselDaemonTest : public ::testing::Test {
 protected:
  CarouselDaemonTest() : daemon_(root_), meta_(std::to_string(FreePort())) {
    channel_ = std::to_string(FreePort());
    WriteFile(root_.File("greeting"), "hello");
    WriteFile(root_.File("long"), std::string(4000, 'l'));  // three datagrams
    WriteDescription("");
  }

  void WriteDescription(const std::string& extra) {
    WriteFile(root_.File("d.new"),
              "<Infocast>\n  <Channel address=\"127.0.0.1\" port=\"" + channel_ +
                  "\" connection=\"Persistent\" rate=\"512k\">\n"
                  "    <Object name=\"cfg.e2e.greeting\" fetch=\"Prefetch\" file=\"greeting\"/>\n"
                  "    <Object name=\"var.e2e.long\" fetch=\"Prefetch\" file=\"long\"/>\n" +
                  extra + "  </Channel>\n</Infocast>\n");
    ASSERT_EQ(rename(root_.File("d.new").c_str(), root_.File("d.xml").c_str()), 0);
  }

  std::unique_ptr<TProcess> StartCarousel() {
    return std::make_unique<TProcess>(
        root_, std::vector<std::string>{BinaryPath("infocast-carousel"), "--meta",
                                        "127.0.0.1:" + meta_, root_.File("d.xml")});
  }

  bool Holds(const std::string& name, const std::string& value) {
    return WaitUntil([&] {
      const TResult result = daemon_.Infoctl({"get", name});
      return result.status == 0 && result.out == value + "\n";
    });
  }

  TTempRoot root_;
  TDaemon daemon_;
  std::string meta_;
  std::string channel_;
};

TEST_F(CarouselDaemonTest, DaemonGetsEveryObjectAndThenAChangedOne) {
  ASSERT_TRUE(daemon_.StartStandalone({"-m", "127.0.0.1:" + meta_}));
  std::unique_ptr<TProcess> carousel = StartCarousel();
  EXPECT_TRUE(Holds("cfg.e2e.greeting", "hello")) << carousel->Err();
  EXPECT_TRUE(Holds("var.e2e.long", std::string(4000, 'l')));

  WriteFile(root_.File("greeting.new"), "bonjour");
  ASSERT_EQ(rename(root_.File("greeting.new").c_str(), root_.File("greeting").c_str()), 0);
  EXPECT_TRUE(Holds("cfg.e2e.greeting", "bonjour"));

  // A description that no longer reads is refused with its line; the old one keeps playing.
  WriteDescription("    <Object name=\"cfg.e2e.greeting\" fetch=\"Prefetch\" file=\"long\"/>\n");
  carousel->Signal(SIGHUP);
  EXPECT_TRUE(WaitUntil([&] { return carousel->Err().find("d.xml:5: ") != std::string::npos; }))
      << carousel->Err();
  EXPECT_TRUE(carousel->Poll());
  carousel->Signal(SIGTERM);
  EXPECT_EQ(carousel->Wait(), 0);
  EXPECT_EQ(daemon_.Stop(), 0);
}

TEST_F(CarouselDaemonTest, BadDescriptionAtStartUpSendsNothing) {
  WriteDescription("    <Object name=\"var.e2e.gone\" fetch=\"Prefetch\" file=\"missing\"/>\n");
  TUdpSocket listener("127.0.0.1", static_cast<uint16_t>(std::stoi(meta_)));
  std::unique_ptr<TProcess> carousel = StartCarousel();
  EXPECT_EQ(carousel->Wait(), 1);
  EXPECT_NE(carousel->Err().find("d.xml:5: cannot open"), std::string::npos) << carousel->Err();
  char buffer[2000];
  EXPECT_LT(listener.Receive(buffer, sizeof buffer), 0);
}

}  // namespace
}  // namespace integration

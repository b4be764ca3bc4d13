// infocast-carousel feeding the real daemon over loopback, through a change and a refusal.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>

#include "os/TUdpSocket.h"
#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

class CarouselDaemonTest : public ::testing::Test {
 protected:
  void Describe(const std::string& file) {
    const std::string object = "<Object fetch=\"Prefetch\" name=";
    WriteFile(root_.File("d.new"), "<Infocast>\n<Channel address=\"127.0.0.1\" port=\"" + port_ +
                                       "\" connection=\"Persistent\" rate=\"512k\">\n" + object +
                                       "\"cfg.a\" file=\"" + file + "\"/>\n" + object +
                                       "\"var.long\" file=\"long\"/></Channel></Infocast>\n");
    ASSERT_EQ(rename(root_.File("d.new").c_str(), root_.File("d.xml").c_str()), 0);
  }
  TProcess* Carousel() {
    carousel_ = std::make_unique<TProcess>(
        root_, std::vector<std::string>{BinaryPath("infocast-carousel"), "--meta",
                                        "127.0.0.1:" + meta_, root_.File("d.xml")});
    return carousel_.get();
  }
  bool Holds(const std::string& name, const std::string& value) {
    return WaitUntil([&] { return daemon_.Infoctl({"get", name}).out == value + "\n"; });
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
  std::string meta_ = std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  std::string port_ = std::to_string(TUdpSocket("127.0.0.1", 0).GetPort());
  std::unique_ptr<TProcess> carousel_;
};

TEST_F(CarouselDaemonTest, DaemonGetsEveryObjectThenAChangedOneAndBadDescriptionsAreRefused) {
  WriteFile(root_.File("a"), "hello");
  WriteFile(root_.File("long"), std::string(4000, 'l'));  // three datagrams
  Describe("missing");
  EXPECT_EQ(Carousel()->Wait(), 1);  // refused before anything is sent
  EXPECT_NE(carousel_->Err().find("d.xml:3: cannot open"), std::string::npos) << carousel_->Err();
  Describe("a");
  ASSERT_TRUE(daemon_.StartStandalone({"-m", "127.0.0.1:" + meta_}));
  Carousel();
  EXPECT_TRUE(Holds("cfg.a", "hello")) << carousel_->Err();
  EXPECT_TRUE(Holds("var.long", std::string(4000, 'l')));
  WriteFile(root_.File("a.new"), "bonjour");
  ASSERT_EQ(rename(root_.File("a.new").c_str(), root_.File("a").c_str()), 0);
  EXPECT_TRUE(Holds("cfg.a", "bonjour"));
  Describe("missing");  // the old description keeps playing
  carousel_->Signal(SIGHUP);
  EXPECT_TRUE(WaitUntil([&] { return carousel_->Err().find("d.xml:3: ") != std::string::npos; }));
  EXPECT_TRUE(carousel_->Poll());
  carousel_->Signal(SIGTERM);
  EXPECT_EQ(carousel_->Wait(), 0);
}

}  // namespace
}  // namespace integration

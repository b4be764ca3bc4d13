// The flash user settings on the real daemon, without -t, on the file-backed HAL: an area that
// cannot be read is never overwritten, and once it is read a set reaches it after the write
// delay, in the firmware's spelling, beside the elements the daemon does not know.
#include <gtest/gtest.h>

#include <string>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

constexpr size_t kAreaLocation = 20480;

class FlashUserDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override { root_.AddHal(); }
  void WriteArea(const std::string& text) {
    WriteFile(image_, std::string(kAreaLocation, '\0') + text + std::string(1, '\0'));
  }
  // The area text up to its zero byte.
  std::string Area() const {
    const std::string image = ReadFile(image_);
    return image.size() > kAreaLocation ? std::string(image.c_str() + kAreaLocation) : "";
  }

  TTempRoot root_;
  TDaemon daemon_{root_};
  std::string image_ = root_.Path() + "/var/hal/flash.img";
};

// The firmware's network settings live in the same area: a write of what an empty adapter
// holds would erase them. Every set tries the read again.
TEST_F(FlashUserDaemonTest, UnreadableAreaRefusesSetsUntilReadThenKeepsWhatItHeld) {
  const std::string firmware = "<DNS1>10.0.0.53</DNS1><Vendor>v1</Vendor>";
  WriteArea("<Configuration>" + firmware);  // cut short: does not parse
  ASSERT_TRUE(daemon_.Start({"-s", "-y", "1"})) << daemon_.Log();
  const TResult refused = daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video"});
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("error 207")) << refused.err;
  EXPECT_EQ("<Configuration>" + firmware, Area());

  WriteArea("<Configuration>" + firmware + "</Configuration>");
  const std::string awkward = "<boot> & \"cast\" 'x'";
  ASSERT_EQ(
      0,
      daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video", "_fw.cfg.ip.metachannel", awkward})
          .status);
  EXPECT_EQ("10.0.0.53\n", daemon_.Infoctl({"get", "_fw.cfg.ip.dns1"}).out);
  EXPECT_TRUE(WaitUntil([&] { return Area().find("SVIDEO") != std::string::npos; }));
  for (const std::string& element :
       {std::string("<UserVideoMode>SVIDEO</UserVideoMode>"), std::string("<DNS1>10.0.0.53</DNS1>"),
        std::string("<Vendor>v1</Vendor>"),
        std::string("<Bootcast>&lt;boot&gt; &amp; &quot;cast&quot; &apos;x&apos;</Bootcast>")}) {
    EXPECT_NE(std::string::npos, Area().find(element)) << Area();
  }
  EXPECT_EQ(0, daemon_.Stop());
}

}  // namespace
}  // namespace integration

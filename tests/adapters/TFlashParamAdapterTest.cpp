// The user-data area: reading and writing the text byte for byte on the file-backed HAL.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "adapters/TFlashParamAdapter.h"
#include "tests/adapters/AdapterTestSupport.h"

using namespace test;

namespace {

constexpr unsigned int kLocation = 8192;
const char kDeclaration[] = "<?xml version=\"1.0\"?>\n";

// Two objects under the root "Settings"; values are stored upper-cased in the area, so that a
// test sees which direction a translation went.
class TTestParamAdapter final : public TFlashParamAdapter {
 public:
  std::string GetRootElementName() const override { return "Settings"; }
  const TParam* GetParams() const override {
    static const TParam params[] = {{"cfg.a", "Alpha"}, {"cfg.b", "Beta"}, {nullptr, nullptr}};
    return params;
  }
  std::string TranslateFromFlash(const std::string&, const std::string& text) const override {
    return text == "ON" ? "on" : text;
  }
  std::string TranslateToFlash(const std::string&, const std::string& value) const override {
    return value == "on" ? "ON" : value;
  }
  void Set(const std::string& name, const std::string& value) { objects_[name] = value; }
  const TObjectMap& Objects() const { return objects_; }
  std::string Text() const {
    std::string text;
    WriteObjectsToBuffer(text);
    return text;
  }
};

}  // namespace

class TFlashParamAdapterTest : public ::testing::Test {
 protected:
  // Puts `bytes` into the flash image at the test's location.
  void WriteArea(const std::string& bytes) {
    WriteFile(image_, std::string(kLocation, '\xff') + bytes);
  }
  std::string Area() const { return ReadFile(image_).substr(kLocation); }
  THalRoot root_;
  std::string image_ = root_.File("var/hal/flash.img");
  TScopedProcessTracker scopedTracker_;
  TRecordingTracker& tracker_ = scopedTracker_.Tracker();
};

TEST_F(TFlashParamAdapterTest, ReadingKeepsWhatTheTableDoesNotClaimInOrder) {
  struct TCase {
    const char* area;
    const char* objects;  // "name=value;" in map order
    const char* written;  // the element lines written back
  } cases[] = {
      // Element names match regardless of case and are written under the table's spelling.
      {"<Settings><ALPHA>ON</ALPHA><beta>2</beta></Settings>", "cfg.a=on;cfg.b=2;",
       "  <Alpha>ON</Alpha>\n  <Beta>2</Beta>\n"},
      // Unknown elements stay, after the adapter's own, in the order read.
      {"<Settings><Zed>z</Zed><Beta>2</Beta><Ann>a</Ann></Settings>", "cfg.b=2;",
       "  <Beta>2</Beta>\n  <Zed>z</Zed>\n  <Ann>a</Ann>\n"},
      // A second element of an object does not load; it is kept as read.
      {"<Settings><Alpha>1</Alpha><alpha>2</alpha><Alpha>3</Alpha></Settings>", "cfg.a=1;",
       "  <Alpha>1</Alpha>\n  <alpha>2</alpha>\n  <Alpha>3</Alpha>\n"},
      // Entities are resolved on reading and text is escaped again on writing.
      {"<Settings><Beta>a&amp;b&lt;c</Beta><X>\"q\"</X></Settings>", "cfg.b=a&b<c;",
       "  <Beta>a&amp;b&lt;c</Beta>\n  <X>&quot;q&quot;</X>\n"},
      // With no object held, the area keeps the other elements.
      {"<Settings><Vendor>v</Vendor></Settings>", "", "  <Vendor>v</Vendor>\n"},
      // The root must match exactly; a text that does not parse loads nothing.
      {"<settings><Alpha>1</Alpha></settings>", "", ""},
      {"<Settings><Alpha>1</Alpha>", "", ""},
      {"", "", ""},
  };
  for (const TCase& c : cases) {
    TTestParamAdapter adapter;
    adapter.ReadObjectsFromBuffer(c.area);
    std::string objects;
    for (const auto& [name, value] : adapter.Objects()) objects += name + "=" + value + ";";
    EXPECT_EQ(objects, c.objects) << c.area;
    EXPECT_EQ(adapter.Text(),
              std::string(kDeclaration) + "<Settings>\n" + c.written + "</Settings>\n")
        << c.area;
  }
  EXPECT_TRUE(tracker_.Holds(TTracker::kError,
                             "TFlashParamAdapter: Unknown root element in user data XML"));
}

// The area and its zero byte must fit into 4096 bytes; a text that does not fit is never
// written, and the area keeps what it held.
TEST_F(TFlashParamAdapterTest, TextOf4095BytesIsWrittenAnd4096IsRefused) {
  const std::string frame =
      std::string(kDeclaration) + "<Settings>\n  <Alpha></Alpha>\n</Settings>\n";
  for (size_t total : {size_t{4095}, size_t{4096}}) {
    WriteArea("old");
    TTestParamAdapter adapter;
    const std::string value(total - frame.size(), 'v');
    adapter.Set("cfg.a", value);
    EXPECT_EQ(adapter.FitsInArea("cfg.a", value), total == 4095);
    ASSERT_EQ(adapter.Text().size(), total);
    const bool written = adapter.WriteToFlash(kLocation);
    EXPECT_EQ(written, total == 4095);
    if (written) {
      EXPECT_EQ(Area(), adapter.Text() + '\0');
    } else {
      EXPECT_EQ(Area(), "old");
      EXPECT_TRUE(tracker_.Holds(TTracker::kError, "TFlashParamAdapter: Buffer overflow"));
    }
  }
}

// An area with no zero byte in its 4096 bytes loses its last byte: whitespace there is
// harmless, the end of the root element is not.
TEST_F(TFlashParamAdapterTest, AreaWithoutZeroByteIsCutAtItsLastByte) {
  const std::string body = "<Settings><Alpha>1</Alpha>";
  const std::string end = "</Settings>";
  const std::string padded = body + std::string(4096 - body.size() - end.size() - 1, ' ');
  for (bool endAtLastByte : {false, true}) {
    WriteArea(endAtLastByte ? padded + " " + end : padded + end + " ");
    TTestParamAdapter adapter;
    adapter.ReadFromFlash(kLocation);
    EXPECT_EQ(adapter.HasObject("cfg.a"), !endAtLastByte);
  }
}

// A HAL failure is traced and changes neither the map nor the area.
TEST_F(TFlashParamAdapterTest, HalFailuresAreTracedAndChangeNothing) {
  mkdir(image_.c_str(), 0755);  // an image the HAL cannot read or replace
  TTestParamAdapter adapter;
  adapter.Set("cfg.a", "1");
  adapter.ReadFromFlash(kLocation);
  EXPECT_EQ(adapter.Objects().size(), 1u);
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "Could not read from flash user data area"));
  EXPECT_FALSE(adapter.WriteToFlash(kLocation));
  EXPECT_TRUE(tracker_.Holds(TTracker::kError, "Could not write to flash user data area"));
}

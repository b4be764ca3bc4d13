#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "service/TInformationAdapter.h"
#include "tests/TestSupport.h"

namespace {

using TSets = std::vector<std::pair<std::string, std::string>>;

// A map-backed adapter as the concrete adapters are; records SetObject when told to, to see
// what SetObjectFromFile hands on, and computes "var.computed" as the computing adapters do.
class TMapAdapter final : public TInformationAdapter {
 public:
  explicit TMapAdapter(bool recording = false) : recording_(recording) {}
  void Put(const std::string& name, const std::string& value) { objects_[name] = value; }
  void SetObject(const std::string& name, const std::string& value) override {
    if (recording_) sets.emplace_back(name, value);
  }
  bool GetObject(const std::string& name, std::string& value) const override {
    if (name != "var.computed") return TInformationAdapter::GetObject(name, value);
    value = "computed";
    return true;
  }
  TSets sets;

 private:
  bool recording_;
};

class TEnumerated final : public IInformationAdapterCallback {
 public:
  void OnSetObject(const IInformationAdapter*, const std::string&) const override {}
  void OnUnsetObject(const IInformationAdapter*, const std::string&) const override {}
  void OnEnumerateObject(const IInformationAdapter*, const std::string& name) const override {
    names.push_back(name);
  }
  bool OnFetchObject(const IInformationAdapter*, const std::string&) const override {
    return false;
  }
  TUniqueFd OpenClientFile(const std::string& path, int flags) const override {
    return TUniqueFd(::open(path.c_str(), flags));
  }
  mutable std::vector<std::string> names;
};

class TInformationAdapterTest : public ::testing::Test {
 protected:
  // Declared first so that the adapters take the recording tracker at construction.
  test::TScopedProcessTracker tracker_;
  test::TTempDir dir_;
  TMapAdapter adapter_;
};

// The plain base stores nothing for writing, reads are exact, and enumeration reports in byte
// order, only once there is a callback.
TEST_F(TInformationAdapterTest, DefaultsHoldNothingForWritingAndEnumerateInByteOrder) {
  adapter_.Put("cfg.b", "");
  adapter_.Put("Cfg.z", "");
  adapter_.Put("cfg.a", "1");
  adapter_.EnumerateObjects();  // no callback yet: nothing to report to, no crash
  EXPECT_FALSE(adapter_.IsStorageType(IInformationAdapter::TStorageType::ePermanent));
  EXPECT_FALSE(adapter_.IsStorageType(IInformationAdapter::TStorageType::eVolatile));
  EXPECT_TRUE(adapter_.SupportsObject("anything"));
  adapter_.TInformationAdapter::SetObject("cfg.a", "2");
  adapter_.UnsetObject("cfg.a");
  std::string value = "untouched";
  EXPECT_TRUE(adapter_.GetObject("cfg.a", value));
  EXPECT_EQ("1", value);
  EXPECT_FALSE(adapter_.HasObject("CFG.A"));
  EXPECT_FALSE(adapter_.GetObject("cfg.c", value));
  EXPECT_EQ("1", value);
  TEnumerated callback;
  adapter_.SetCallback(&callback);
  adapter_.EnumerateObjects();
  EXPECT_EQ((std::vector<std::string>{"Cfg.z", "cfg.a", "cfg.b"}), callback.names);
}

// An unheld name touches no file; a held one (also one the adapter computes) replaces the
// content exactly. A missing file is never created, a FIFO nobody reads fails at once rather
// than block the loop, and every failure is a traced 207.
TEST_F(TInformationAdapterTest, GetToFileWritesExactlyTheHeldValueIntoAnExistingFile) {
  test::WriteFile(dir_.File("f"), "a much longer previous content");
  EXPECT_FALSE(adapter_.GetObjectToFile("cfg.none", dir_.File("f")));
  EXPECT_FALSE(adapter_.GetObjectToFile("cfg.none", dir_.File("missing")));
  EXPECT_EQ("a much longer previous content", test::ReadFile(dir_.File("f")));
  const std::string binary("a\0b\n", 4);
  adapter_.Put("cfg.bin", binary);
  EXPECT_TRUE(adapter_.GetObjectToFile("cfg.bin", dir_.File("f")));
  EXPECT_EQ(binary, test::ReadFile(dir_.File("f")));
  EXPECT_TRUE(adapter_.GetObjectToFile("var.computed", dir_.File("f")));
  EXPECT_EQ("computed", test::ReadFile(dir_.File("f")));
  ASSERT_EQ(0, mkfifo(dir_.File("fifo").c_str(), 0600));
  for (const std::string& path : {dir_.File("missing"), dir_.File("fifo"), dir_.Path()}) {
    tracker_.Tracker().messages.clear();
    EXPECT_EQ("207 Failed to open file '" + path + "'.",
              test::Refusal([&] { adapter_.GetObjectToFile("cfg.bin", path); }));
    EXPECT_TRUE(tracker_.Tracker().Holds(TTracker::kError, path)) << path;
  }
  EXPECT_FALSE(test::FileExists(dir_.File("missing")));
  if (test::FileExists("/dev/full")) {
    EXPECT_EQ("207 Failed to write to file.",
              test::Refusal([&] { adapter_.GetObjectToFile("cfg.bin", "/dev/full"); }));
  }
}

TEST_F(TInformationAdapterTest, SetFromFileHandsTheWholeContentToSetObjectOrThrows207) {
  TMapAdapter recording(true);
  const std::string content("line 1\nline 2\0tail", 18);
  test::WriteFile(dir_.File("f"), content);
  recording.SetObjectFromFile("cfg.a", dir_.File("f"));
  EXPECT_EQ((TSets{{"cfg.a", content}}), recording.sets);
  test::WriteFile(dir_.File("empty"), "");
  for (const std::string& path : {dir_.File("missing"), dir_.File("empty"), dir_.Path()}) {
    tracker_.Tracker().messages.clear();
    EXPECT_EQ("207 Failed to open file '" + path + "'.",
              test::Refusal([&] { recording.SetObjectFromFile("cfg.b", path); }));
    EXPECT_EQ(1u, tracker_.Tracker().Count(path)) << path;
  }
  EXPECT_EQ(1u, recording.sets.size());
}

}  // namespace

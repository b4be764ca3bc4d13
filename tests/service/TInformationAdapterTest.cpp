#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/TException.h"
#include "service/TInformationAdapter.h"
#include "tests/TestSupport.h"

namespace {

// A map-backed adapter as the concrete adapters are: fills the map directly.
class TMapAdapter : public TInformationAdapter {
 public:
  void Put(const std::string& name, const std::string& value) { objects_[name] = value; }
};

// Records SetObject, to see what SetObjectFromFile hands on.
class TRecordingAdapter final : public TMapAdapter {
 public:
  void SetObject(const std::string& name, const std::string& value) override {
    sets.emplace_back(name, value);
  }
  std::vector<std::pair<std::string, std::string>> sets;
};

// Serves a value it does not keep in the map, as the computing adapters do.
class TComputingAdapter final : public TMapAdapter {
 public:
  bool GetObject(const std::string& name, std::string& value) const override {
    if (name != "var.computed") return false;
    value = "computed";
    return true;
  }
};

class TRecordingCallback final : public IInformationAdapterCallback {
 public:
  void OnSetObject(const IInformationAdapter*, const std::string&) const override {}
  void OnUnsetObject(const IInformationAdapter*, const std::string&) const override {}
  void OnEnumerateObject(const IInformationAdapter* adapter,
                         const std::string& name) const override {
    enumerated.emplace_back(adapter, name);
  }
  bool OnFetchObject(const IInformationAdapter*, const std::string&) const override {
    return false;
  }
  TUniqueFd OpenClientFile(const std::string& path, int flags) const override {
    return TUniqueFd(::open(path.c_str(), flags));
  }
  mutable std::vector<std::pair<const IInformationAdapter*, std::string>> enumerated;
};

class TInformationAdapterTest : public ::testing::Test {
 protected:
  // Declared first so that the adapters take the recording tracker at construction.
  test::TScopedProcessTracker tracker_;
  test::TTempDir dir_;
  TMapAdapter adapter_;
};

uint16_t CodeOf(const std::function<void()>& call, std::string& text) {
  try {
    call();
  } catch (const TDispatchableException& e) {
    text = e.GetText();
    return e.GetCode();
  }
  return 0;
}

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
  adapter_.SetObject("cfg.a", "2");
  adapter_.UnsetObject("cfg.a");
  adapter_.InitializeObjects();
  adapter_.FetchObjects();
  std::string value = "untouched";
  EXPECT_TRUE(adapter_.GetObject("cfg.a", value));
  EXPECT_EQ("1", value);
  EXPECT_FALSE(adapter_.HasObject("CFG.A"));
  value = "untouched";
  EXPECT_FALSE(adapter_.GetObject("cfg.c", value));
  EXPECT_EQ("untouched", value);

  TRecordingCallback callback;
  adapter_.SetCallback(&callback);
  adapter_.EnumerateObjects();
  using E = std::pair<const IInformationAdapter*, std::string>;
  EXPECT_EQ((std::vector<E>{{&adapter_, "Cfg.z"}, {&adapter_, "cfg.a"}, {&adapter_, "cfg.b"}}),
            callback.enumerated);
}

// An unheld name touches no file; a held one replaces the content exactly, asking the
// overridden GetObject.
TEST_F(TInformationAdapterTest, GetToFileWritesExactlyTheHeldValue) {
  test::WriteFile(dir_.File("f"), "a much longer previous content");
  EXPECT_FALSE(adapter_.GetObjectToFile("cfg.none", dir_.File("f")));
  EXPECT_FALSE(adapter_.GetObjectToFile("cfg.none", dir_.File("missing")));
  EXPECT_EQ("a much longer previous content", test::ReadFile(dir_.File("f")));
  EXPECT_FALSE(test::FileExists(dir_.File("missing")));
  const std::string binary("a\0b\n", 4);
  adapter_.Put("cfg.bin", binary);
  EXPECT_TRUE(adapter_.GetObjectToFile("cfg.bin", dir_.File("f")));
  EXPECT_EQ(binary, test::ReadFile(dir_.File("f")));
  TComputingAdapter computing;
  EXPECT_TRUE(computing.GetObjectToFile("var.computed", dir_.File("f")));
  EXPECT_EQ("computed", test::ReadFile(dir_.File("f")));
}

// A missing file is never created, a FIFO nobody reads fails at once rather than block the
// loop, and every failure is a traced 207.
TEST_F(TInformationAdapterTest, GetToFileNeverCreatesAFileAndFailuresAre207) {
  adapter_.Put("cfg.a", "value");
  ASSERT_EQ(0, mkfifo(dir_.File("fifo").c_str(), 0600));
  for (const std::string& path : {dir_.File("missing"), dir_.File("fifo"), dir_.Path()}) {
    SCOPED_TRACE(path);
    std::string text;
    EXPECT_EQ(207, CodeOf([&] { adapter_.GetObjectToFile("cfg.a", path); }, text));
    EXPECT_EQ("Failed to open file '" + path + "'.", text);
    EXPECT_EQ(TTracker::kError, tracker_.Tracker().messages.back().first);
    EXPECT_EQ("TInformationAdapter::GetObjectToFile(): " + text,
              tracker_.Tracker().messages.back().second);
  }
  EXPECT_FALSE(test::FileExists(dir_.File("missing")));
  if (test::FileExists("/dev/full")) {
    std::string text;
    EXPECT_EQ(207, CodeOf([&] { adapter_.GetObjectToFile("cfg.a", "/dev/full"); }, text));
    EXPECT_EQ("Failed to write to file.", text);
  }
}

TEST_F(TInformationAdapterTest, SetFromFileHandsTheWholeContentToSetObject) {
  TRecordingAdapter recording;
  std::string content("line 1\nline 2\0tail", 18);
  test::WriteFile(dir_.File("f"), content);
  recording.SetObjectFromFile("cfg.a", dir_.File("f"));
  EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"cfg.a", content}}), recording.sets);
  adapter_.SetObjectFromFile("cfg.a", dir_.File("f"));  // the plain base stores nothing
  EXPECT_FALSE(adapter_.HasObject("cfg.a"));
}

TEST_F(TInformationAdapterTest, SetFromFileOnAnUnreadablePathThrows207NamingIt) {
  TRecordingAdapter recording;
  test::WriteFile(dir_.File("empty"), "");
  for (const std::string& path : {dir_.File("missing"), dir_.File("empty"), dir_.Path()}) {
    SCOPED_TRACE(path);
    std::string text;
    EXPECT_EQ(207, CodeOf([&] { recording.SetObjectFromFile("cfg.a", path); }, text));
    EXPECT_EQ("Failed to open file '" + path + "'.", text);
    EXPECT_EQ("TInformationAdapter: " + text, tracker_.Tracker().messages.back().second);
  }
  EXPECT_TRUE(recording.sets.empty());
}

}  // namespace

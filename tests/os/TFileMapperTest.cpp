#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "base/TException.h"
#include "os/TFileMapper.h"
#include "tests/TestSupport.h"

namespace {

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  while (readdir(dir)) ++count;
  closedir(dir);
  return count;
}

std::string OpenErrorText(const std::string& path) {
  try {
    TFileMapper mapper(path.c_str());
  } catch (const TVerboseException& e) {
    EXPECT_EQ(0, e.GetCode());
    EXPECT_STREQ(e.GetText(), e.what());
    return e.GetText();
  }
  ADD_FAILURE() << "no exception for " << path;
  return "";
}

class TFileMapperTest : public ::testing::Test {
 protected:
  test::TTempDir dir_;
};

TEST_F(TFileMapperTest, MapsTheWholeContentIncludingNulBytes) {
  std::string content("a\0b\nc", 5);
  test::WriteFile(dir_.File("f"), content);
  TFileMapper mapper(dir_.File("f").c_str());
  ASSERT_NE(nullptr, mapper.GetData());
  EXPECT_EQ(content, std::string(mapper.GetData(), mapper.GetLength()));
}

TEST_F(TFileMapperTest, UnmappableFilesFailWithTheOpenMessage) {
  test::WriteFile(dir_.File("empty"), "");
  ASSERT_EQ(0, mkfifo(dir_.File("fifo").c_str(), 0600));
  // A FIFO must be refused without waiting for a writer.
  for (const std::string name : {"empty", "missing", "fifo", ""}) {
    std::string path = name.empty() ? dir_.Path() : dir_.File(name);
    SCOPED_TRACE(path);
    TFileMapper mapper;
    EXPECT_FALSE(mapper.TryOpen(path.c_str()));
    EXPECT_EQ(nullptr, mapper.GetData());
    EXPECT_EQ(0u, mapper.GetLength());
    EXPECT_EQ("Could not open file \"" + path + "\".", OpenErrorText(path));
  }
}

TEST_F(TFileMapperTest, LongPathMessageIsCutTo199Characters) {
  std::string path = dir_.Path() + "/" + std::string(300, 'x');
  std::string text = OpenErrorText(path);
  EXPECT_EQ(199u, text.size());
  EXPECT_EQ(("Could not open file \"" + path).substr(0, 199), text);
}

// Reopening, a failed open, Close, moves and destruction each release what they replace.
TEST_F(TFileMapperTest, EveryReplacementReleasesThePreviousMapping) {
  test::WriteFile(dir_.File("a"), "first");
  test::WriteFile(dir_.File("b"), "second file");
  const int descriptors = OpenDescriptorCount();
  {
    TFileMapper mapper(dir_.File("a").c_str());
    for (int i = 0; i < 50; ++i) {
      ASSERT_TRUE(mapper.TryOpen(dir_.File(i % 2 ? "b" : "a").c_str()));
    }
    EXPECT_EQ(descriptors + 1, OpenDescriptorCount());
    EXPECT_EQ("second file", std::string(mapper.GetData(), mapper.GetLength()));
    EXPECT_FALSE(mapper.TryOpen(dir_.File("missing").c_str()));
    EXPECT_EQ(nullptr, mapper.GetData());
    EXPECT_EQ(descriptors, OpenDescriptorCount());
    ASSERT_TRUE(mapper.TryOpen(dir_.File("a").c_str()));
    mapper.Close();
    mapper.Close();
    EXPECT_EQ(0u, mapper.GetLength());
    EXPECT_EQ(descriptors, OpenDescriptorCount());

    ASSERT_TRUE(mapper.TryOpen(dir_.File("b").c_str()));
    TFileMapper moved(std::move(mapper));
    EXPECT_EQ(nullptr, mapper.GetData());
    TFileMapper assigned(dir_.File("a").c_str());
    assigned = std::move(moved);
    EXPECT_EQ("second file", std::string(assigned.GetData(), assigned.GetLength()));
    EXPECT_EQ(descriptors + 1, OpenDescriptorCount());
    TFileMapper last(dir_.File("a").c_str());
    last = TFileMapper();
    EXPECT_EQ(descriptors + 1, OpenDescriptorCount());
  }
  EXPECT_EQ(descriptors, OpenDescriptorCount());
}

}  // namespace

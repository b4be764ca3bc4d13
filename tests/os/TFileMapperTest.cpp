#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "base/TException.h"
#include "os/TFileMapper.h"
#include "tests/TestSupport.h"

namespace {

class TFileMapperTest : public ::testing::Test {
 protected:
  // Open descriptors plus mappings of files in the test's directory: what a leak would grow.
  int Held() const {
    int count = static_cast<int>(test::ListDirectory("/proc/self/fd").size());
    std::istringstream maps(test::ReadFile("/proc/self/maps"));
    for (std::string line; std::getline(maps, line);) {
      count += line.find(dir_.Path()) != std::string::npos;
    }
    return count;
  }
  std::string Content(const TFileMapper& mapper) const {
    return std::string(mapper.GetData(), mapper.GetLength());
  }
  test::TTempDir dir_;
};

TEST_F(TFileMapperTest, UnmappableFilesFailWithTheOpenMessageCutTo199Characters) {
  test::WriteFile(dir_.File("empty"), "");
  ASSERT_EQ(0, mkfifo(dir_.File("fifo").c_str(), 0600));  // refused without waiting for a writer
  const std::string longPath = dir_.Path() + "/" + std::string(300, 'x');
  for (const std::string& path :
       {dir_.File("empty"), dir_.File("missing"), dir_.File("fifo"), dir_.Path(), longPath}) {
    TFileMapper mapper;
    EXPECT_FALSE(mapper.TryOpen(path.c_str()));
    EXPECT_EQ(nullptr, mapper.GetData());
    EXPECT_EQ(0u, mapper.GetLength());
    try {
      TFileMapper failing(path.c_str());
      ADD_FAILURE() << path;
    } catch (const TVerboseException& e) {
      EXPECT_EQ(0, e.GetCode());
      EXPECT_EQ(("Could not open file \"" + path + "\".").substr(0, 199), e.GetText());
    }
  }
}

// Reopening, a failed open, Close, moves and destruction each release what they replace.
TEST_F(TFileMapperTest, EveryReplacementReleasesThePreviousMapping) {
  test::WriteFile(dir_.File("a"), std::string("a\0b\nc", 5));
  test::WriteFile(dir_.File("b"), "second file");
  const int held = Held();
  {
    TFileMapper mapper(dir_.File("a").c_str());
    EXPECT_EQ(std::string("a\0b\nc", 5), Content(mapper));
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(mapper.TryOpen(dir_.File(i % 2 ? "b" : "a").c_str()));
    EXPECT_EQ(held + 2, Held());
    EXPECT_EQ("second file", Content(mapper));
    EXPECT_FALSE(mapper.TryOpen(dir_.File("missing").c_str()));
    EXPECT_EQ(held, Held());
    ASSERT_TRUE(mapper.TryOpen(dir_.File("a").c_str()));
    mapper.Close();
    mapper.Close();
    EXPECT_EQ(0u, mapper.GetLength());
    EXPECT_EQ(held, Held());
    ASSERT_TRUE(mapper.TryOpen(dir_.File("b").c_str()));
    TFileMapper moved(std::move(mapper));
    EXPECT_EQ(nullptr, mapper.GetData());
    TFileMapper assigned(dir_.File("a").c_str());
    assigned = std::move(moved);
    EXPECT_EQ("second file", Content(assigned));
    EXPECT_EQ(held + 2, Held());
    assigned = TFileMapper();
    EXPECT_EQ(held, Held());
  }
  EXPECT_EQ(held, Held());
}

}  // namespace

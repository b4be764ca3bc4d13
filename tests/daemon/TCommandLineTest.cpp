#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "daemon/TCommandLine.h"

namespace {

const char kUsage[] =
    "Usage: infoservice [<options>]\n"
    "  -h  show this help\n"
    "  -s  standalone mode (no platform)\n"
    "  -t  host environment (no HAL)\n"
    "  -i  <filename> write server socket address to file\n"
    "  -f  <filename> settings file in flash file system\n"
    "  -g  <filename> backup file for ffs\n"
    "  -y  <delay> ffs write delay in seconds\n"
    "  -w  <limit> ffs write limit (24h)\n"
    "  -m  <address> infocast meta channel address\n"
    "  -e  <filename> infocast meta channel address\n"
    "  -n  <size> infocast packet buffer size in bytes\n"
    "  -d  <filename> read default values from file\n"
    "  -a  <filename> read alias list from file\n"
    "  -o  opch mode\n"
    "  -p  <filename> access policy: who may read, write and subscribe which names\n"
    "  -c  <count> connections per peer user (default 64)\n";

class TCommandLineTest : public ::testing::Test {
 protected:
  // Parses the words (getopt may reorder them, so they are copied into owned buffers) and
  // keeps what was printed as usage.
  TCommandLine::TResult Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "infoservice");
    buffers_.clear();
    for (const std::string& word : words) buffers_.emplace_back(word.begin(), word.end());
    std::vector<char*> argv;
    for (auto& buffer : buffers_) {
      buffer.push_back('\0');
      argv.push_back(buffer.data());
    }
    argv.push_back(nullptr);
    FILE* stream = tmpfile();
    const TCommandLine::TResult result =
        options_.Parse(static_cast<int>(words.size()), argv.data(), stream);
    usage_.assign(static_cast<std::size_t>(ftell(stream)), '\0');
    rewind(stream);
    usage_.resize(fread(usage_.data(), 1, usage_.size(), stream));
    fclose(stream);
    return result;
  }

  TCommandLine options_;
  std::string usage_;
  std::vector<std::vector<char>> buffers_;
};

TEST_F(TCommandLineTest, NoOptionsGiveTheDefaultsAndNonNumbersGiveZero) {
  ASSERT_EQ(TCommandLine::TResult::eRun, Parse({}));
  EXPECT_FALSE(options_.standalone);
  EXPECT_FALSE(options_.hostEnvironment);
  EXPECT_FALSE(options_.opchMode);
  EXPECT_EQ("", options_.ipcAddressFile + options_.settingsFile + options_.backupFile +
                    options_.metaChannelAddress + options_.metaChannelFile + options_.defaultsFile +
                    options_.aliasFile);
  EXPECT_EQ(10, options_.writeDelay);
  EXPECT_EQ(10, options_.writeLimit);
  EXPECT_EQ(1600, options_.packetBufferSize);
  EXPECT_EQ("", usage_);
  // Numbers that are not numbers give zero, or their leading digits.
  ASSERT_EQ(TCommandLine::TResult::eRun, Parse({"-y", "abc", "-w", "", "-n", "12x"}));
  EXPECT_EQ(0, options_.writeDelay);
  EXPECT_EQ(0, options_.writeLimit);
  EXPECT_EQ(12, options_.packetBufferSize);
}

TEST_F(TCommandLineTest, EveryOptionIsReadAndLaterOccurrencesWin) {
  ASSERT_EQ(TCommandLine::TResult::eRun,
            Parse({"-s",      "-t",        "-i", "addr", "-f", "set.xml", "-g",
                   "bak.xml", "-y",        "3",  "-w",   "5",  "-m",      "239.1.1.1:5000",
                   "-e",      "meta",      "-n", "2048", "-d", "def.xml", "stray",
                   "-a",      "alias.xml", "-o", "-y",   "7",  "-i",      "addr2"}));
  EXPECT_TRUE(options_.standalone);
  EXPECT_TRUE(options_.hostEnvironment);
  EXPECT_TRUE(options_.opchMode);
  EXPECT_EQ("addr2", options_.ipcAddressFile);
  EXPECT_EQ("set.xml", options_.settingsFile);
  EXPECT_EQ("bak.xml", options_.backupFile);
  EXPECT_EQ(7, options_.writeDelay);
  EXPECT_EQ(5, options_.writeLimit);
  EXPECT_EQ("239.1.1.1:5000", options_.metaChannelAddress);
  EXPECT_EQ("meta", options_.metaChannelFile);
  EXPECT_EQ(2048, options_.packetBufferSize);
  EXPECT_EQ("def.xml", options_.defaultsFile);
  EXPECT_EQ("alias.xml", options_.aliasFile);
  // Parsing again starts from the first word.
  ASSERT_EQ(TCommandLine::TResult::eRun, Parse({"-w", "4"}));
  EXPECT_EQ(7, options_.writeDelay);
  EXPECT_EQ(4, options_.writeLimit);
}

// Help wins over everything after it; an unknown option or a missing argument fails. Both
// print the usage text.
TEST_F(TCommandLineTest, HelpOrBadOptionPrintsTheUsageText) {
  const std::pair<std::vector<std::string>, TCommandLine::TResult> cases[] = {
      {{"-s", "-h", "-x"}, TCommandLine::TResult::eHelp},
      {{"-x"}, TCommandLine::TResult::eBadOption},
      {{"-s", "-i"}, TCommandLine::TResult::eBadOption},
      {{"-d"}, TCommandLine::TResult::eBadOption}};
  for (const auto& [words, result] : cases) {
    options_ = TCommandLine();
    EXPECT_EQ(result, Parse(words)) << words.back();
    EXPECT_EQ(kUsage, usage_) << words.back();
  }
}

}  // namespace

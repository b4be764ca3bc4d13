#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "daemon/TCommandLine.h"

namespace {

// Parses the words after the program name into `options`; `usage` gets what was printed.
TCommandLine::TResult Parse(std::vector<std::string> words, TCommandLine& options,
                            std::string& usage) {
  words.insert(words.begin(), "infoservice");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  FILE* stream = tmpfile();
  const TCommandLine::TResult result =
      options.Parse(static_cast<int>(words.size()), argv.data(), stream);
  usage.assign(static_cast<size_t>(ftell(stream)), '\0');
  rewind(stream);
  usage.resize(fread(usage.data(), 1, usage.size(), stream));
  fclose(stream);
  return result;
}

TEST(TCommandLineTest, DefaultsEveryOptionLaterOccurrencesAndNonNumbers) {
  TCommandLine options;
  std::string usage;
  ASSERT_EQ(TCommandLine::TResult::eRun, Parse({}, options, usage));
  EXPECT_FALSE(options.standalone || options.hostEnvironment || options.opchMode);
  EXPECT_EQ("", options.ipcAddressFile + options.settingsFile + options.backupFile +
                    options.metaChannelAddress + options.metaChannelFile + options.defaultsFile +
                    options.aliasFile + usage);
  EXPECT_EQ(10, options.writeDelay);
  EXPECT_EQ(10, options.writeLimit);
  EXPECT_EQ(1600, options.packetBufferSize);

  ASSERT_EQ(TCommandLine::TResult::eRun,
            Parse({"-s",      "-t",        "-i", "addr", "-f",  "set.xml", "-g",
                   "bak.xml", "-y",        "3",  "-w",   "5",   "-m",      "239.1.1.1:5000",
                   "-e",      "meta",      "-n", "12x",  "-d",  "def.xml", "stray",
                   "-a",      "alias.xml", "-o", "-y",   "abc", "-i",      "addr2"},
                  options, usage));
  EXPECT_TRUE(options.standalone && options.hostEnvironment && options.opchMode);
  EXPECT_EQ("addr2 set.xml bak.xml 239.1.1.1:5000 meta def.xml alias.xml",
            options.ipcAddressFile + " " + options.settingsFile + " " + options.backupFile + " " +
                options.metaChannelAddress + " " + options.metaChannelFile + " " +
                options.defaultsFile + " " + options.aliasFile);
  EXPECT_EQ(0, options.writeDelay);  // not a number
  EXPECT_EQ(5, options.writeLimit);
  EXPECT_EQ(12, options.packetBufferSize);  // its leading digits
}

// Help wins over everything after it; an unknown option or a missing argument fails. Both
// print the usage text, which names the program.
TEST(TCommandLineTest, HelpOrBadOptionPrintsTheUsageText) {
  const std::pair<std::vector<std::string>, TCommandLine::TResult> cases[] = {
      {{"-s", "-h", "-x"}, TCommandLine::TResult::eHelp},
      {{"-x"}, TCommandLine::TResult::eBadOption},
      {{"-s", "-i"}, TCommandLine::TResult::eBadOption},
      {{"-d"}, TCommandLine::TResult::eBadOption}};
  for (const auto& [words, result] : cases) {
    TCommandLine options;
    std::string usage;
    EXPECT_EQ(result, Parse(words, options, usage)) << words.back();
    EXPECT_EQ(0u, usage.find("Usage: infoservice [<options>]\n")) << usage;
  }
}

}  // namespace

// The daemon process: exit codes, stop signals, platform mode; without -t (file-backed HAL)
// the flash user settings; the storage promises.
#include <gtest/gtest.h>

#include "ipc/TIpcAddress.h"
#include "ipc/TIpcClient.h"
#include "tests/integration/DaemonFixture.h"
#include "toi/TInformationServiceCaller.h"

namespace integration {
namespace {

using InfoserviceTest = TDaemonTest;

// init stops with SIGTERM, a person with Ctrl-C, the platform with SIGHUP: each flushes the
// settings (to the backup file: the write delay has not passed) and the flash user area and
// removes the socket. The next start reads each round's values back.
TEST_F(InfoserviceTest, EveryStopSignalKeepsPendingWritesAndRemovesTheSocket) {
  EXPECT_EQ(0, RunProgram(root_, {BinaryPath("infoservice"), "-h"}).status);
  EXPECT_EQ(1, RunProgram(root_, {BinaryPath("infoservice"), "-s", "-q"}).status);
  const TArgs options = {"-s", "-f", root_.File("settings.xml"), "-g", root_.File("settings.bak"),
                         "-y", "3600"};
  const std::pair<int, const char*> rounds[] = {
      {SIGTERM, "Video"}, {SIGINT, "S-Video"}, {SIGHUP, "RGB"}, {0, nullptr}};
  std::string previous;
  for (const auto& [stop, output] : rounds) {
    SCOPED_TRACE(stop);
    ASSERT_TRUE(daemon_.Start(options)) << daemon_.Log();
    if (!previous.empty()) {
      EXPECT_EQ(previous, daemon_.Get("cfg.media.tv.output"));
      EXPECT_EQ(previous, daemon_.Get("cfg.shutdown.test"));
    }
    if (stop == 0) break;
    ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.media.tv.output", output, "cfg.shutdown.test",
                                  output}).status);
    TIpcAddress address;
    ASSERT_TRUE(TIpcAddress::Parse(daemon_.Address(), address));
    daemon_.Process().Signal(stop);
    EXPECT_EQ(0, daemon_.Process().Wait()) << daemon_.Log();
    EXPECT_FALSE(FileExists(address.socketPath));
    previous = output;
  }
}

// The platform simulator logs each call it gets.
TEST_F(InfoserviceTest, PlatformModeRegistersAnswersPingsAndFollowsInstanceStates) {
  const std::string names = root_.File("nameservice.address");
  TProcess simulator(root_, {BinaryPath("platform-simulator"), "-a", names},
                     daemon_.Environment(), true);
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(names).empty(); })) << simulator.Log();
  // The service id is read as its leading digits.
  TEnvironment environment = {{"SERVICE_ID", "42x"}, {"NAMESERVICE_ADDRESS", ReadFile(names)}};
  ASSERT_TRUE(daemon_.Start({"-t"}, environment)) << daemon_.Log();
  ASSERT_TRUE(simulator.WaitForOutput("call RegisterService ")) << simulator.Log();
  const std::string log = simulator.Log();  // registered in this order (npos fails)
  const size_t component = log.find("call RegisterComponent 42 ipc:");
  EXPECT_LT(log.find("call RegisterObject InformationService " + daemon_.Address()), component);
  EXPECT_LT(component, log.find("call RegisterService ipc:")) << log;
  // infoctl finds the daemon through the name service.
  environment = {{"NAMESERVICE_ADDRESS", ReadFile(names)}, {"INFOSERVICE_ROOT", root_.Path()}};
  EXPECT_EQ(0, RunProgram(root_, {BinaryPath("infoctl"), "dump", "x.*"}, environment).status);
  for (const auto& [command, call] : {std::pair{"ping", "call ReportPing 42"},
                                      std::pair{"unload 1", "call UnloadDone 42"}}) {
    simulator.Send(command);
    EXPECT_TRUE(simulator.WaitForOutput(call)) << simulator.Log();
  }
  // The observer object is reached: an ended instance released, a started one started.
  simulator.Send("state 5:7,6:3");
  ASSERT_TRUE(simulator.WaitForOutput("call StartInstance 6")) << simulator.Log();
  const std::string states = simulator.Log();
  EXPECT_LT(states.find("call ReleaseInstance 5"), states.find("call StartInstance 6"));
  EXPECT_EQ(0, daemon_.Stop());
}

constexpr size_t kAreaLocation = 20480;

class FlashUserDaemonTest : public TDaemonTest {
 protected:
  void WriteArea(const std::string& text) {
    WriteFile(image_, std::string(kAreaLocation, '\0') + text + '\0');
  }
  // The area text up to its zero byte.
  std::string Area() const {
    const std::string image = ReadFile(image_);
    return image.size() > kAreaLocation ? std::string(image.c_str() + kAreaLocation) : "";
  }

  std::string image_ = root_.Path() + "/var/hal/flash.img";
};

// The firmware's network settings live in the same area: writing what an empty adapter holds
// would erase them. Every set tries the read again; once read, a set reaches the area in the
// firmware's spelling, beside the elements the daemon does not know.
TEST_F(FlashUserDaemonTest, UnreadableAreaRefusesSetsUntilReadThenKeepsWhatItHeld) {
  const std::string firmware = "<DNS1>10.0.0.53</DNS1><Vendor>v1</Vendor>";
  WriteArea("<Configuration>" + firmware);  // cut short: does not parse
  ASSERT_TRUE(daemon_.Start({"-s", "-y", "1"})) << daemon_.Log();
  const TResult refused = daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video"});
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("error 207")) << refused.err;
  EXPECT_EQ("<Configuration>" + firmware, Area());

  WriteArea("<Configuration>" + firmware + "</Configuration>");
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.media.tv.output", "S-Video", "_fw.cfg.ip.metachannel",
                                "<boot> & \"cast\" 'x'"}).status);
  EXPECT_EQ("10.0.0.53", daemon_.Get("_fw.cfg.ip.dns1"));
  EXPECT_TRUE(WaitUntil([&] { return Area().find("SVIDEO") != std::string::npos; }));
  for (const char* element : {"<UserVideoMode>SVIDEO</UserVideoMode>", "<DNS1>10.0.0.53</DNS1>",
                              "<Vendor>v1</Vendor>",
                              "<Bootcast>&lt;boot&gt; &amp; &quot;cast&quot; &apos;x&apos;"})
    EXPECT_NE(std::string::npos, Area().find(element)) << Area();
  // The HAL's facts reach the tree too.
  EXPECT_EQ("armhf\n1.0.0\n",
            daemon_.Infoctl({"get", "config.architecture.target", "const._fw.version"}).out);
  EXPECT_EQ(0, daemon_.Stop());
}

// The daemon with a settings write delay of 0; true when it serves.
class StorageDaemonTest : public TDaemonTest {
 protected:
  bool Start(const TArgs& wrapper = {}) {
    return daemon_.StartStandalone({"-f", settings_, "-g", backup_, "-y", "0", "-w", "1000000"},
                                   wrapper);
  }
  std::string settings_ = root_.File("settings.xml"), backup_ = root_.File("settings.bak");
};

// The daemon writes the settings file (about 150 KB) after every set and is killed at varied
// moments; every time the file must load whole, with every setting it held before.
TEST_F(StorageDaemonTest, SigkillAtAnyMomentLeavesACompleteSettingsFile) {
  std::string seed =
      "<settingslist><setting><name>info.ffs.totalwritecount</name><value>0</value></setting>";
  for (int i = 0; i < 5000; ++i)
    seed += "<setting><name>cfg.base." + std::to_string(i) + "</name><value>" +
            std::string(100, static_cast<char>('a' + i % 26)) + "</value></setting>";
  WriteFile(settings_, seed + "</settingslist>");
  for (int round = 0; round <= 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(Start()) << daemon_.Log();
    const TResult base = daemon_.Infoctl({"get", "cfg.base.0", "cfg.base.2498", "cfg.base.4996",
                                          "info.ffs.totalwritecount"});
    ASSERT_EQ(0, base.status) << base.err;
    ASSERT_EQ(0u, base.out.find(std::string(100, 'a') + "\n" + std::string(100, 'c') + "\n" +
                                std::string(100, 'e') + "\n"));
    EXPECT_EQ(daemon_.Log().find("TFlashFsAdapter: "), std::string::npos) << daemon_.Log();
    for (const std::string& value : {daemon_.Get("cfg.crash.seq"), daemon_.Get("store.crash")})
      EXPECT_TRUE(value == "<none>" || std::atoi(value.c_str()) >= 1) << value;
    EXPECT_FALSE(FileExists(backup_));  // SIGKILL gives no shutdown
    if (round == 50) break;

    // Sets two objects over and over until the daemon is gone (bounded by the call timeout).
    std::thread setter([address = daemon_.Address()] {
      TIpcClient client;
      TInformationServiceCaller caller(&client, address);
      try {
        for (int i = 1; i <= 100000; ++i) {
          caller.SetObject("cfg.crash.seq", std::to_string(i), IToiInformationService::ePermanent);
          caller.SetObject("store.crash", std::to_string(i), IToiInformationService::ePermanent);
        }
      } catch (const std::exception&) {  // the daemon was killed
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + (round * 7) % 43));
    daemon_.Process().Signal(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, daemon_.Process().Wait());
    setter.join();
  }
}

// A file-size limit (40 or 80 KB, by the shell's block size) stands in for a full disk; no
// death of SIGXFSZ, nor of SIGPIPE (a client's reader gone mid-write).
TEST_F(StorageDaemonTest, FullDiskAnswers207AndKeepsThePreviousFiles) {
  ASSERT_TRUE(Start({"/bin/sh", "-c", "ulimit -f 80 && exec \"$0\" \"$@\""})) << daemon_.Log();
  ASSERT_EQ(0, daemon_.Infoctl({"set", "store.doc", "before", "cfg.small", "before"}).status);
  ASSERT_EQ(0, daemon_.Infoctl({"set", "-v", "tmp.t", "volatile"}).status);
  const std::string flash = root_.Path() + "/flash2/information/";
  ASSERT_TRUE(
      WaitUntil([&] { return ReadFile(settings_).find("cfg.small") != std::string::npos; }));
  const std::string settingsBefore = ReadFile(settings_);

  const TResult full = daemon_.Infoctl({"set", "store.doc", std::string(100 * 1024, 'x')});
  EXPECT_EQ(1, full.status);
  EXPECT_NE(std::string::npos, full.err.find("error 207")) << full.err;
  EXPECT_EQ(daemon_.Get("store.doc"), "before");
  EXPECT_EQ(ReadFile(flash + "store.doc"), "before");
  EXPECT_FALSE(FileExists(flash + ".store.doc.tmp"));

  // The settings write that cannot fit fails later: logged naming the settings file (not the
  // temporary one), and the previous file stays.
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.big", std::string(100 * 1024, 'y')}).status);
  EXPECT_TRUE(daemon_.Process().WaitForOutput("TFlashFsAdapter: Cannot open file \"" + settings_ +
                                              "\" for writing: File too large"))
      << daemon_.Log();
  EXPECT_EQ(ReadFile(settings_), settingsBefore);
  EXPECT_EQ(daemon_.Get("cfg.small"), "before");
  daemon_.Process().Signal(SIGPIPE);
  EXPECT_EQ(daemon_.Get("tmp.t"), "volatile");
  EXPECT_TRUE(daemon_.Process().Poll());
}

}  // namespace
}  // namespace integration

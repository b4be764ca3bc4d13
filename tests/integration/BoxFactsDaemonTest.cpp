// The facts of the box on the real daemon without -t: a fake /proc tree and the file-backed
// HAL in the root, and an eth0 of the test's own in a network namespace made for the daemon
// (root only), so that the MAC address is known and no host interface matters.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <vector>

#include "tests/integration/DaemonFixture.h"

namespace integration {
namespace {

const char kMac[] = "02:00:00:00:1a:01";

class BoxFactsDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || access("/usr/bin/unshare", X_OK) != 0) {
      GTEST_SKIP() << "a network namespace needs root and unshare";
    }
    root_.AddHal();
    for (const char* dir : {"/proc/qboxparam", "/proc/qboxuserparam", "/var/state"}) {
      mkdir((root_.Path() + dir).c_str(), 0755);
    }
    for (const auto& [file, content] : std::vector<std::pair<std::string, std::string>>{
             {"/proc/qboxparam/serialnumber", "SN-4711"},
             {"/proc/qboxparam/model", "NMB1910 HD"},
             {"/proc/qboxparam/dvbnim", "Yes"},
             {"/proc/qboxuserparam/usercolorcoding", "NTSC"},
             {"/proc/cmdline", "console=ttyS0 last_key=0,3,96\n"}}) {
      WriteFile(root_.Path() + file, content);
    }
  }

  // The daemon in a namespace of its own whose eth0 has kMac; the shell execs the daemon, so
  // the child's pid is the daemon's. Interface types are tried in turn, since not every kernel
  // has the dummy one. False when it did not come up.
  bool Start() {
    const std::string script =
        "for type in dummy bridge ifb; do "
        "ip link add eth0 address " +
        std::string(kMac) +
        " type $type 2>/dev/null && "
        "exec \"$0\" \"$@\"; done; exit 77";
    std::vector<std::string> argv = {
        "/usr/bin/unshare",   "-n", "/bin/sh", "-c", script, BinaryPath("infoservice"), "-s", "-i",
        daemon_.AddressFile()};
    process_ = std::make_unique<TProcess>(root_, argv, daemon_.Environment());
    WaitUntil([&] { return !daemon_.Address().empty() || !process_->Poll(); });
    return process_->Poll() && !daemon_.Address().empty();
  }
  std::string Get(const std::string& name) const { return daemon_.Infoctl({"get", name}).out; }

  TTempRoot root_;
  TDaemon daemon_{root_};
  std::unique_ptr<TProcess> process_;
};

TEST_F(BoxFactsDaemonTest, ServesTheFactsAndWritesTheSyslogFiles) {
  if (!Start()) {
    if (process_->Wait() == 77) GTEST_SKIP() << "no interface type to stand in for eth0";
    FAIL() << process_->Out() << process_->Err();
  }
  // One fact from each source: production parameters, the colour system, the kernel command
  // line, eth0, the HAL's system information and firmware version, the clock.
  EXPECT_EQ("SN-4711\n408\n0x007BC97B\n" + std::string(kMac) + "\narmhf\n1.0.0\ntrue\n",
            daemon_
                .Infoctl({"get", "const.hw.serialnumber", "config.visiblearea.height",
                          "var.last_scankey", "const.ip.eth0.mac", "config.architecture.target",
                          "const._fw.version", "const.capabilities.dtt"})
                .out);
  const time_t before = time(nullptr);
  const std::string utc = Get("var.utctime");
  EXPECT_LE(before, std::stol(utc)) << utc;
  EXPECT_GE(time(nullptr), std::stol(utc)) << utc;

  // The syslog settings land in the box tree (their format is the adapter's test).
  ASSERT_EQ(0, daemon_.Infoctl({"set", "cfg.app.syslog.url", "udp://127.0.0.1:514"}).status);
  EXPECT_EQ("127.0.0.1:514", ReadFile(root_.Path() + "/etc/syslog.conf.url"));
  EXPECT_EQ("-R", ReadFile(root_.Path() + "/var/state/syslog.restart"));

  process_->Signal(SIGHUP);
  EXPECT_EQ(0, process_->Wait()) << process_->Err();
}

}  // namespace
}  // namespace integration

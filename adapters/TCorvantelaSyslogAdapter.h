// The two settings of the box's system logger: cfg.app.syslog.url, where messages go, and
// cfg.app.syslog.level, how much is logged. They are kept in a small XML file in flash,
// validated on every change, and handed to the logger (which runs outside this service)
// through plain files and a restart request. Permanent writes of exactly these two names come
// here; reads and unsets are the map's. Runs on the loop thread.
//
// Files (each under the root prefix, each replaced atomically so that a crash leaves the
// previous content, none with a line end):
//   /flash2/syslog.conf.xml    <syslogconf><level>L</level><url>U</url></syslogconf>, the
//                              values escaped; read back at start-up
//   /etc/syslog.conf.url       the log destination
//   /etc/syslog.conf.level     the level
//   /var/state/syslog.restart  "-R" for a network destination, "-O" for a file
//
// Validation, on the pair of settings a change would give (the level first):
//   level: one character, "1" to "8"                 else 201 "Level must be in 0-8 range"
//   url:   "udp://HOST:PORT"  -> destination HOST:PORT, network
//          "file:///PATH"     -> destination /PATH, file
//          "is://~REL"        -> destination const.browser.home.localpath + REL, file
//          anything else, the empty URL, or a URL or destination holding a line feed, carriage
//          return or NUL byte (it would add lines to the logger's configuration)
//                                                     else 201 "Invalid syslog url"
#pragma once

#include <string>

#include "service/IInformationService.h"
#include "service/TInformationAdapter.h"

class TCorvantelaSyslogAdapter final : public TInformationAdapter {
 public:
  // Keeps the service (not owned), through which the "is://~" URLs read the home path.
  explicit TCorvantelaSyslogAdapter(IInformationService* service);
  ~TCorvantelaSyslogAdapter() override;

  // IInformationAdapter
  // Sets the defaults (level "3", empty URL), applies the settings file and, when the result
  // is valid, writes the logger's files and requests a restart. A missing, malformed or
  // invalid settings file is traced ("Failed to open file") and leaves what was read so far,
  // without touching the logger. Reports nothing.
  void InitializeObjects() override;
  // Permanent storage only.
  bool IsStorageType(TStorageType storageType) const override;
  // cfg.app.syslog.url and cfg.app.syslog.level.
  bool SupportsObject(const std::string& name) const override;
  // An unchanged value does nothing. Otherwise validates (throws 201, nothing changes),
  // stores, writes the files, requests the restart and reports the change. File failures are
  // traced only.
  void SetObject(const std::string& name, const std::string& value) override;

  // Validates the settings that result when name takes value, sets the log destination,
  // stores value under name (when it is one of the two) and returns the restart mode: 1 for a
  // network destination, 2 for a file. Throws 201 on invalid settings, and passes on a failed
  // read of the home path.
  int CheckLogDest(const std::string& name, const std::string& value);
  void StoreTokens();
  void StoreSyslogSettings();
  void RestartSyslog(int mode);
  // Replaces the file under the root prefix with content; a failure is traced, not raised.
  void WriteFile(const std::string& path, const std::string& content);

 private:
  void ReadSettingsFile();

  std::string logDestination_;
  IInformationService* service_;
};

#include "adapters/TCorvantelaSyslogAdapter.h"

#include <cstdlib>

#include "base/TException.h"
#include "os/RootPath.h"
#include "os/TAtomicFile.h"
#include "os/TFileMapper.h"
#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

namespace {

const char kLevel[] = "cfg.app.syslog.level";
const char kUrl[] = "cfg.app.syslog.url";
const char kHomePath[] = "const.browser.home.localpath";
const char kSettingsFile[] = "/flash2/syslog.conf.xml";
const char kUrlFile[] = "/etc/syslog.conf.url";
const char kLevelFile[] = "/etc/syslog.conf.level";
const char kRestartFile[] = "/var/state/syslog.restart";
const char kDefaultLevel[] = "3";
constexpr mode_t kFileMode = 0644;
constexpr int kNetworkMode = 1;
constexpr int kFileDestinationMode = 2;

struct TScheme {
  const char* prefix;
  int mode;
  bool underHome;
};
const TScheme kSchemes[] = {
    {"file://", kFileDestinationMode, false},
    {"is://~", kFileDestinationMode, true},
    {"udp://", kNetworkMode, false},
};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The logger reads its destination as one line: a line break or a NUL byte in it would end
// the destination early and make the rest a configuration line of its own.
bool IsOneLine(const std::string& text) {
  return text.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

}  // namespace

TCorvantelaSyslogAdapter::TCorvantelaSyslogAdapter(IInformationService* service)
    : service_(service) {}

TCorvantelaSyslogAdapter::~TCorvantelaSyslogAdapter() = default;

bool TCorvantelaSyslogAdapter::IsStorageType(TStorageType storageType) const {
  return storageType == TStorageType(0);
}

bool TCorvantelaSyslogAdapter::SupportsObject(const std::string& name) const {
  return name == kUrl || name == kLevel;
}

void TCorvantelaSyslogAdapter::InitializeObjects() {
  objects_[kLevel] = kDefaultLevel;
  objects_[kUrl] = "";
  try {
    ReadSettingsFile();
    const int mode = CheckLogDest("", "");
    StoreSyslogSettings();
    RestartSyslog(mode);
  } catch (const TException&) {
    tracker_->Trace("TCorvantelaSyslogAdapter: Failed to open file %s",
                    RootPath(kSettingsFile).c_str());
  }
}

void TCorvantelaSyslogAdapter::ReadSettingsFile() {
  TFileMapper mapper(RootPath(kSettingsFile).c_str());
  TGeneralXmlParser parser;
  parser.Parse(mapper.GetData(), static_cast<int>(mapper.GetLength()));
  for (const TXmlElement& child : parser.GetRootElement().GetChildren()) {
    if (child.GetName() == "level") objects_[kLevel] = child.GetText();
    if (child.GetName() == "url") objects_[kUrl] = child.GetText();
  }
}

void TCorvantelaSyslogAdapter::SetObject(const std::string& name, const std::string& value) {
  const auto stored = objects_.find(name);
  if (stored != objects_.end() && stored->second == value) return;
  const int mode = CheckLogDest(name, value);
  StoreTokens();
  RestartSyslog(mode);
  if (callback_ != nullptr) callback_->OnSetObject(this, name);
}

int TCorvantelaSyslogAdapter::CheckLogDest(const std::string& name, const std::string& value) {
  const std::string& url = name == kUrl ? value : objects_[kUrl];
  const std::string& level = name == kLevel ? value : objects_[kLevel];
  if (level.size() != 1 || std::atoi(level.c_str()) < 1 || std::atoi(level.c_str()) > 8) {
    throw TUnknownObjectException("Level must be in 0-8 range");
  }
  const TScheme* scheme = nullptr;
  for (const TScheme& candidate : kSchemes) {
    if (StartsWith(url, candidate.prefix)) scheme = &candidate;
  }
  if (scheme == nullptr || !IsOneLine(url)) throw TUnknownObjectException("Invalid syslog url");
  std::string destination;
  if (scheme->underHome) service_->GetObject(kHomePath, destination);
  destination += url.substr(std::char_traits<char>::length(scheme->prefix));
  if (!IsOneLine(destination)) throw TUnknownObjectException("Invalid syslog url");

  logDestination_ = destination;
  if (name == kLevel || name == kUrl) objects_[name] = value;
  return scheme->mode;
}

void TCorvantelaSyslogAdapter::StoreTokens() {
  WriteFile(kSettingsFile, "<syslogconf><level>" + TXmlFormat(objects_[kLevel]).GetString() +
                               "</level><url>" + TXmlFormat(objects_[kUrl]).GetString() +
                               "</url></syslogconf>");
  StoreSyslogSettings();
}

void TCorvantelaSyslogAdapter::StoreSyslogSettings() {
  WriteFile(kUrlFile, logDestination_);
  WriteFile(kLevelFile, objects_[kLevel]);
}

void TCorvantelaSyslogAdapter::RestartSyslog(int mode) {
  tracker_->Trace("TCorvantelaSyslogAdapter: Restarting syslog");
  WriteFile(kRestartFile, mode == kNetworkMode ? "-R" : "-O");
}

void TCorvantelaSyslogAdapter::WriteFile(const std::string& path, const std::string& content) {
  const std::string file = RootPath(path);
  try {
    TAtomicFile::Replace(file, content, kFileMode);
  } catch (const TException& failure) {
    tracker_->Trace("TCorvantelaSyslogAdapter: Can't write to file %s", file.c_str());
    tracker_->Trace("TCorvantelaSyslogAdapter: %s", failure.GetText());
  }
}

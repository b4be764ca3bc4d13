// The 24-hour write budget of the settings file
//
// Flash endures a limited number of erase cycles, so the settings file is written at most
// writeLimit times per 24-hour period, and only writeDelay seconds after the change that asked
// for it, so that a burst of changes shares one write. Three counters travel in the object map
// and so in the file itself; subscribers see them like any setting:
//   info.ffs.periodtimestamp   wall-clock second at which the current period began
//   info.ffs.periodwritecount  writes made in the current period
//   info.ffs.totalwritecount   writes ever made
//
// Scheduling, on a change when no write is pending (a pending write takes every later change
// along; an unchanged value schedules nothing):
//   elapsed = now - periodtimestamp, in unsigned 32-bit arithmetic.
//   - 1 <= elapsed <= 86399: the period is running. When periodwritecount >= writeLimit the
//     write waits until writeDelay seconds after the period's end, that is after
//     86400 + writeDelay - elapsed seconds; otherwise it comes after writeDelay seconds.
//   - otherwise (elapsed 0, a timestamp in the future after the clock was set back, a period
//     over, or a counter missing): the write comes after writeDelay seconds and opens a new
//     period.
// Writing: in a running period periodwritecount goes up by one; a new period sets
// periodtimestamp to now and periodwritecount to 1. totalwritecount always goes up by one.
// Whether the period is running is decided when the write is scheduled, so a write that
// waited for the end of a full period is still counted in it (the count reaches
// writeLimit + 1, after the 24 hours are over); the next change then opens a new period.
//
// Examples, limit 10, delay 10 s:
//   period began 1000 s ago, count 3       -> write in 10 s; count 4
//   period began 1000 s ago, count 10      -> write in 86400 + 10 - 1000 = 85410 s; count 11
//   period began 86400 s ago, count 10     -> write in 10 s; new period, count 1
//   period timestamp 5 s in the future     -> write in 10 s; new period, count 1
//   period began this very second          -> write in 10 s; new period, count 1
//   limit 0, period began 1 s ago, count 0 -> write in 86409 s; count 1
//   no counters in the map                 -> write in 10 s; new period, count 1, total 1

#include "adapters/TFlashFsAdapter.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/TException.h"
#include "os/TAtomicFile.h"
#include "os/TFileMapper.h"
#include "service/IInformationAdapterCallback.h"
#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

namespace {

constexpr char kPeriodTimestamp[] = "info.ffs.periodtimestamp";
constexpr char kPeriodWriteCount[] = "info.ffs.periodwritecount";
constexpr char kTotalWriteCount[] = "info.ffs.totalwritecount";
constexpr uint32_t kPeriodSeconds = 86400;
constexpr mode_t kSettingsFileMode = 0664;
const char* const kEnvPrefixes[] = {"_env.trusted.", "_env.local.", "_env.restricted."};

}  // namespace

TFlashFsAdapter::TFlashFsAdapter(const std::string& settingsFile, const std::string& backupFile,
                                 uint32_t writeDelay, uint32_t writeLimit,
                                 const INameTranslator* names, IIalTokenValueDictionary* dictionary,
                                 IIOEventLoop* loop, IClock& clock)
    : settingsFile_(settingsFile),
      backupFile_(backupFile),
      writeDelay_(writeDelay),
      writeLimit_(writeLimit),
      names_(names),
      dictionary_(dictionary),
      loop_(loop),
      clock_(clock) {}

TFlashFsAdapter::~TFlashFsAdapter() {
  // A change not yet on flash (pending, or its write failed) goes to the backup file, which
  // the next start-up prefers; the counters are not advanced for it.
  if (timeoutId_ != -1) {
    loop_->RemoveTimeout(timeoutId_);
    timeoutId_ = -1;
    unsaved_ = true;
  }
  if (unsaved_) WriteToFile(backupFile_);
}

// ---- Loading ----------------------------------------------------------------------------

void TFlashFsAdapter::InitializeObjects() {
  if (ReadFromFile(backupFile_)) {
    // The backup holds the newest state; it becomes the settings file at the next write.
    ScheduleWrite();
  } else if (!ReadFromFile(settingsFile_)) {
    objects_[kPeriodTimestamp] = "0";
    objects_[kPeriodWriteCount] = "0";
    objects_[kTotalWriteCount] = "0";
  }
  RegisterEnvFamilies();
}

bool TFlashFsAdapter::ReadFromFile(const std::string& fileName) {
  if (fileName.empty()) return false;
  try {
    TFileMapper mapper;
    // Missing, unreadable or empty: nothing to load, and nothing worth a trace.
    if (mapper.TryOpen(fileName.c_str())) {
      bool changed = false;
      LoadSettings(mapper.GetData(), mapper.GetLength(), changed);
      if (changed) ScheduleWrite();
      return true;
    }
  } catch (const TException& failure) {
    tracker_->Error("TFlashFsAdapter: %s", failure.GetText());
  } catch (...) {
    tracker_->Error("TFlashFsAdapter: Unknown exception");
  }
  objects_.clear();
  return false;
}

void TFlashFsAdapter::LoadSettings(const char* data, uint32_t length, bool& changed) {
  TGeneralXmlParser parser;
  parser.Parse(data, static_cast<int>(length));
  const TXmlElement& root = parser.GetRootElement();
  if (root.GetName() != "settingslist") throw TException("Unknown root element in settings file.");
  for (const TXmlElement& setting : root.GetChildren()) {
    std::string name;
    std::string value;
    if (setting.GetName() != "setting" || !setting.GetStringValue("name", name) ||
        !setting.GetStringValue("value", value)) {
      throw TException("Unknown element in settings file.");
    }
    // Names and tokens stored by an older configuration are brought up to date, and the
    // file is rewritten with them.
    if (names_ && names_->HasAlias(name)) {
      name = names_->Translate(name);
      changed = true;
    }
    if (dictionary_ && dictionary_->ShouldTranslate(name) && dictionary_->IsIalTokenValue(value)) {
      value = dictionary_->Translate(value);
      changed = true;
    }
    objects_[name] = value;
  }
}

void TFlashFsAdapter::RegisterEnvFamilies() {
  for (char digit = '0'; digit <= '9'; ++digit) {
    for (const char* prefix : kEnvPrefixes) {
      const std::string name = prefix + std::string(1, digit);
      envStates_[name] = HasObject(name) ? eInUse : eNotInUse;
    }
  }
}

// ---- Changes ----------------------------------------------------------------------------

bool TFlashFsAdapter::IsStorageType(TStorageType storageType) const {
  return storageType == IToiInformationService::ePermanent;
}

void TFlashFsAdapter::CheckEnvLimits(const std::string& name, const std::string& value) {
  const auto env = envStates_.find(name);
  if (env == envStates_.end()) return;
  if (value.size() > kMaxEnvValueSize) {
    throw TStorageLimitException("_env.xxx.[0-9] objects are not allowed to be this size!");
  }
  if (env->second == eInUse) return;
  size_t inUse = 0;
  for (const auto& entry : envStates_) inUse += entry.second == eInUse ? 1 : 0;
  if (inUse >= kMaxEnvObjectsInUse) {
    throw TStorageLimitException("That many _env.xxx.[0-9] objects are not allowed!");
  }
  env->second = eInUse;
}

void TFlashFsAdapter::SetObject(const std::string& name, const std::string& value) {
  CheckEnvLimits(name, value);
  const auto found = objects_.find(name);
  if (found != objects_.end() && found->second == value) return;
  objects_[name] = value;
  if (callback_) callback_->OnSetObject(this, name);
  ScheduleWrite();
}

void TFlashFsAdapter::UnsetObject(const std::string& name) {
  if (objects_.erase(name) == 0) return;
  if (callback_) callback_->OnUnsetObject(this, name);
  ScheduleWrite();
  const auto env = envStates_.find(name);
  if (env != envStates_.end()) env->second = eNotInUse;
}

// ---- Writing ----------------------------------------------------------------------------

void TFlashFsAdapter::ScheduleWrite() {
  if (timeoutId_ != -1) return;
  newPeriod_ = true;
  const auto stamp = objects_.find(kPeriodTimestamp);
  const auto count = objects_.find(kPeriodWriteCount);
  if (stamp != objects_.end() && count != objects_.end()) {
    const uint32_t now = static_cast<uint32_t>(clock_.WallSeconds());
    const uint32_t elapsed = now - static_cast<uint32_t>(std::atoi(stamp->second.c_str()));
    if (elapsed - 1u <= kPeriodSeconds - 2u) {
      newPeriod_ = false;
      if (static_cast<uint32_t>(std::atoi(count->second.c_str())) >= writeLimit_) {
        ArmTimeout((uint64_t{writeDelay_} + kPeriodSeconds - elapsed) * 1000u);
        return;
      }
    }
  }
  ArmTimeout(uint64_t{writeDelay_} * 1000u);
}

void TFlashFsAdapter::ArmTimeout(uint64_t milliseconds) {
  timeoutId_ = loop_->AddOneShotTimeout(milliseconds, this);
}

void TFlashFsAdapter::SetCounter(const char* name, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  // Through SetObject so that subscribers hear of it; its ScheduleWrite returns at once
  // because the timer is still armed.
  SetObject(name, text);
}

void TFlashFsAdapter::HandleTimeout(int /*identifier*/) {
  const auto stamp = objects_.find(kPeriodTimestamp);
  const auto count = objects_.find(kPeriodWriteCount);
  if (!newPeriod_ && stamp != objects_.end() && count != objects_.end()) {
    SetCounter(kPeriodWriteCount,
               static_cast<int>(static_cast<unsigned>(std::atoi(count->second.c_str())) + 1u));
  } else {
    SetCounter(kPeriodTimestamp, static_cast<int>(clock_.WallSeconds()));
    SetCounter(kPeriodWriteCount, 1);
  }
  const auto total = objects_.find(kTotalWriteCount);
  SetCounter(kTotalWriteCount,
             total == objects_.end()
                 ? 1
                 : static_cast<int>(static_cast<unsigned>(std::atoi(total->second.c_str())) + 1u));
  timeoutId_ = -1;
  unsaved_ = !WriteToFile(settingsFile_);
  // The backup is dropped only once the settings file holds its content: after a failed
  // write it is still the newest state on flash.
  if (!unsaved_ && !backupFile_.empty()) TAtomicFile::Remove(backupFile_);
}

bool TFlashFsAdapter::WriteToFile(const std::string& fileName) const {
  if (fileName.empty()) return true;
  try {
    TAtomicFile::Replace(fileName, FormatSettings(), kSettingsFileMode);
    return true;
  } catch (const TVerboseException& failure) {
    // Whichever step failed (the temporary file, its sync, the rename), the operator needs to
    // know which of the two files is stale, and why.
    tracker_->Error("TFlashFsAdapter: Cannot open file \"%s\" for writing: %s", fileName.c_str(),
                    std::strerror(failure.GetCode()));
    return false;
  }
}

std::string TFlashFsAdapter::FormatSettings() const {
  std::string text = "<?xml version=\"1.0\"?>\n<settingslist>\n";
  for (const auto& object : objects_) {
    text += "<setting>\n<name>";
    text += TXmlFormat(object.first).GetString();
    text += "</name>\n<value>";
    text += TXmlFormat(object.second).GetString();
    text += "</value>\n</setting>\n";
  }
  text += "</settingslist>\n";
  return text;
}

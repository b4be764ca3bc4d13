// The general persistent storage: every setting of storage type 0 that no earlier adapter
// claims is kept in the object map and written whole to the settings file in the flash file
// system. Flash wears, so a change is written only after the write delay and at most the
// write limit times per 24-hour period (rules at the top of TFlashFsAdapter.cpp); a write
// pending at shutdown goes to the backup file, which the next start-up prefers. Files are
// replaced atomically, so a crash or a full disk never loses the previous file. Holds the
// name translator, the dictionary, the loop and the clock without owning them. Runs on the
// loop thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "os/IClock.h"
#include "os/IIOEventLoop.h"
#include "os/IIOTimeoutHandler.h"
#include "service/TInformationAdapter.h"
#include "translation/IIalTokenValueDictionary.h"
#include "translation/INameTranslator.h"

class TFlashFsAdapter final : public TInformationAdapter, public IIOTimeoutHandler {
 public:
  enum TEnvState { eNotInUse = 0, eInUse = 1 };

  static constexpr size_t kMaxEnvValueSize = 4096;
  static constexpr size_t kMaxEnvObjectsInUse = 15;

  // Stores the arguments; reads nothing. names (for alias translation) may be null, which
  // means no aliases; dictionary may be null, which means no token translation.
  TFlashFsAdapter(const std::string& settingsFile, const std::string& backupFile,
                  uint32_t writeDelay, uint32_t writeLimit, const INameTranslator* names,
                  IIalTokenValueDictionary* dictionary, IIOEventLoop* loop,
                  IClock& clock = IClock::System());
  // Removes a pending write timeout and writes the map to the backup file instead (the
  // counters unchanged).
  ~TFlashFsAdapter() override;

  // IInformationAdapter
  // Loads the backup file, else the settings file, else starts with the three counters at
  // "0"; registers the _env. families. Never throws; bad files are traced and dropped.
  void InitializeObjects() override;
  bool IsStorageType(TStorageType storageType) const override;
  // Throws TStorageLimitException (202) for an _env. value over 4096 bytes or a sixteenth
  // _env. name in use, changing nothing. An unchanged value reports and schedules nothing.
  void SetObject(const std::string& name, const std::string& value) override;
  void UnsetObject(const std::string& name) override;

  // IIOTimeoutHandler
  // The write timer: advances the counters and writes the settings file.
  void HandleTimeout(int identifier) override;

  // Loads one settings file into the map, translating aliases and tokens. False, with the
  // map cleared, when the name is empty or the file is missing, empty or malformed.
  bool ReadFromFile(const std::string& fileName);
  // Arms the write timer unless a write is already pending.
  void ScheduleWrite();
  // Writes the whole map in the settings file format, replacing the file atomically. False,
  // traced, when it could not be written: the previous file is then left as it was. Nothing
  // happens (true) for an empty name.
  bool WriteToFile(const std::string& fileName) const;
  // The settings file text of the current map.
  std::string FormatSettings() const;

  // Test hook: the identifier of the armed write timer, -1 when none.
  int TEST_GetPendingTimeout() const { return timeoutId_; }

 private:
  void CheckEnvLimits(const std::string& name, const std::string& value);
  void LoadSettings(const char* data, uint32_t length, bool& changed);
  void RegisterEnvFamilies();
  void SetCounter(const char* name, int value);
  void ArmTimeout(uint64_t milliseconds);

  std::string settingsFile_;
  std::string backupFile_;
  uint32_t writeDelay_;
  uint32_t writeLimit_;
  const INameTranslator* names_;
  IIalTokenValueDictionary* dictionary_;
  IIOEventLoop* loop_;
  IClock& clock_;
  int timeoutId_ = -1;
  bool newPeriod_ = false;
  // The last write of the map failed: the destructor saves it to the backup file.
  bool unsaved_ = false;
  std::map<std::string, TEnvState> envStates_;
};

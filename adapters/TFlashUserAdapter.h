// The storage of the nine settings kept in the flash user-data area: the user's video output
// and colour system, and the firmware's network configuration of the first Ethernet interface
// and its boot channel (the _fw. objects, which the firmware reads before this daemon runs).
// It takes writes of storage type 0 for exactly these names and writes the whole area after
// the write delay, so a burst of changes costs one flash write; a change still pending at
// destruction is written then. In the host environment (-t) it neither reads nor writes the
// area and is an in-memory store of the nine names. Holds the loop without owning it. Runs on
// the loop thread.
#pragma once

#include <cstdint>
#include <string>

#include "adapters/TFlashParamAdapter.h"
#include "os/IIOEventLoop.h"
#include "os/IIOTimeoutHandler.h"

class TFlashUserAdapter final : public TFlashParamAdapter, public IIOTimeoutHandler {
 public:
  // Where the area lies in the HAL flash resource.
  static constexpr unsigned int kAreaLocation = 20480;

  // writeDelay in seconds. Reads nothing yet.
  TFlashUserAdapter(bool hostEnvironment, uint32_t writeDelay, IIOEventLoop* loop);
  // Removes a pending write timeout and writes the area at once (not in the host
  // environment); also retries a write that failed.
  ~TFlashUserAdapter() override;

  // IInformationAdapter
  // Loads the area, unless in the host environment.
  void InitializeObjects() override;
  // True for the permanent storage type only.
  bool IsStorageType(TStorageType storageType) const override;
  // True exactly for the nine object names of the table.
  bool SupportsObject(const std::string& name) const override;
  // Stores the value, reports OnSetObject and schedules a write, unless the value is already
  // held. Outside the host environment: when the area has not been read yet (a HAL failure or
  // an unreadable text at start), tries the read again, and throws TFileException (207),
  // traced, when it fails once more: a write would replace the firmware's settings with this
  // one value. Throws TStorageLimitException (202), changing nothing, when the area could not
  // hold the value: a text that does not fit is never written, and every later change would
  // be lost with it.
  void SetObject(const std::string& name, const std::string& value) override;
  // Erases the object, reports OnUnsetObject and schedules a write, only when it was held.
  void UnsetObject(const std::string& name) override;

  // TFlashParamAdapter
  std::string GetRootElementName() const override;
  const TParam* GetParams() const override;
  // "CVBS" -> "Video" and "SVIDEO" -> "S-Video" for cfg.media.tv.output, "Fixed" -> "Static"
  // for _fw.cfg.ip.eth0.mode; TranslateToFlash the reverse. Anything else passes unchanged.
  std::string TranslateFromFlash(const std::string& name, const std::string& text) const override;
  std::string TranslateToFlash(const std::string& name, const std::string& value) const override;

  // IIOTimeoutHandler
  // The write timer: writes the area (not in the host environment).
  void HandleTimeout(int identifier) override;

  // Arms the write timer unless a write is already pending.
  void ScheduleWrite();
  // Test hook: the identifier of the armed write timer, -1 when none.
  int TEST_GetPendingTimeout() const { return timeoutId_; }

 private:
  // Reads the area after a failed first read and reports what it found.
  void ReadLate();
  void Write();

  bool hostEnvironment_;
  uint32_t writeDelay_;
  IIOEventLoop* loop_;
  int timeoutId_ = -1;
  // The last write failed: the destructor tries once more.
  bool unsaved_ = false;
};

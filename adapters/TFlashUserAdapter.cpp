#include "adapters/TFlashUserAdapter.h"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "base/TException.h"
#include "service/IInformationAdapterCallback.h"

namespace {

const TFlashParamAdapter::TParam kParams[] = {
    {"cfg.media.tv.output", "UserVideoMode"},
    {"cfg.media.tv.colorsystem", "UserColorCoding"},
    {"_fw.cfg.ip.eth0.mode", "IPResolution"},
    {"_fw.cfg.ip.eth0.addr", "IPAddress"},
    {"_fw.cfg.ip.eth0.mask", "Netmask"},
    {"_fw.cfg.ip.gateway", "Gateway"},
    {"_fw.cfg.ip.dns1", "DNS1"},
    {"_fw.cfg.ip.dns2", "DNS2"},
    {"_fw.cfg.ip.metachannel", "Bootcast"},
    {nullptr, nullptr},
};

// The firmware reads the area with its own spelling of a few values.
struct TTranslation {
  const char* objectName;
  const char* value;
  const char* text;
};
const TTranslation kTranslations[] = {
    {"cfg.media.tv.output", "Video", "CVBS"},
    {"cfg.media.tv.output", "S-Video", "SVIDEO"},
    {"_fw.cfg.ip.eth0.mode", "Static", "Fixed"},
};

}  // namespace

TFlashUserAdapter::TFlashUserAdapter(bool hostEnvironment, uint32_t writeDelay, IIOEventLoop* loop)
    : hostEnvironment_(hostEnvironment), writeDelay_(writeDelay), loop_(loop) {}

TFlashUserAdapter::~TFlashUserAdapter() {
  if (timeoutId_ != -1) {
    loop_->RemoveTimeout(timeoutId_);
    timeoutId_ = -1;
    unsaved_ = true;
  }
  if (unsaved_) Write();
}

void TFlashUserAdapter::InitializeObjects() {
  if (!hostEnvironment_) ReadFromFlash(kAreaLocation);
}

bool TFlashUserAdapter::IsStorageType(TStorageType storageType) const {
  return storageType == IToiInformationService::ePermanent;
}

bool TFlashUserAdapter::SupportsObject(const std::string& name) const {
  for (const TParam* param = kParams; param->objectName != nullptr; ++param) {
    if (name == param->objectName) return true;
  }
  return false;
}

void TFlashUserAdapter::SetObject(const std::string& name, const std::string& value) {
  if (!hostEnvironment_) {
    if (!IsAreaRead()) ReadLate();
    if (!IsAreaRead()) {
      tracker_->Error("TFlashUserAdapter: Refusing %s: the user data area could not be read",
                      name.c_str());
      throw TFileException("The flash user data area could not be read.");
    }
  }
  const auto found = objects_.find(name);
  if (found != objects_.end() && found->second == value) return;
  // Nothing is written in the host environment, so no size is refused there.
  if (!hostEnvironment_ && !FitsInArea(name, value)) {
    throw TStorageLimitException("The flash user data area cannot hold this value.");
  }
  objects_[name] = value;
  if (callback_) callback_->OnSetObject(this, name);
  ScheduleWrite();
}

void TFlashUserAdapter::ReadLate() {
  if (!ReadFromFlash(kAreaLocation)) return;
  // What the read found is news to subscribers, who saw an empty adapter until now.
  std::vector<std::string> loaded;
  for (const auto& object : objects_) loaded.push_back(object.first);
  if (callback_) {
    for (const std::string& name : loaded) callback_->OnSetObject(this, name);
  }
}

void TFlashUserAdapter::UnsetObject(const std::string& name) {
  if (objects_.erase(name) == 0) return;
  if (callback_) callback_->OnUnsetObject(this, name);
  ScheduleWrite();
}

std::string TFlashUserAdapter::GetRootElementName() const { return "Configuration"; }

const TFlashParamAdapter::TParam* TFlashUserAdapter::GetParams() const { return kParams; }

std::string TFlashUserAdapter::TranslateFromFlash(const std::string& name,
                                                  const std::string& text) const {
  for (const TTranslation& t : kTranslations) {
    if (name == t.objectName && text == t.text) return t.value;
  }
  return text;
}

std::string TFlashUserAdapter::TranslateToFlash(const std::string& name,
                                                const std::string& value) const {
  for (const TTranslation& t : kTranslations) {
    if (name == t.objectName && value == t.value) return t.text;
  }
  return value;
}

void TFlashUserAdapter::ScheduleWrite() {
  if (timeoutId_ != -1) return;
  timeoutId_ = loop_->AddOneShotTimeout(uint64_t{writeDelay_} * 1000u, this);
}

void TFlashUserAdapter::HandleTimeout(int /*identifier*/) {
  timeoutId_ = -1;
  Write();
}

// An area that was never read is never written: it may hold settings this adapter would erase.
// Sets are refused until a read succeeds, so no change can be pending then.
void TFlashUserAdapter::Write() {
  unsaved_ = !hostEnvironment_ && IsAreaRead() && !WriteToFlash(kAreaLocation);
}

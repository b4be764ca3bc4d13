#include "adapters/TOsAdapter.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "adapters/TSingleProcFileValue.h"
#include "hal/Hai.h"
#include "os/RootPath.h"

namespace {

const char kUtcTime[] = "var.utctime";
const char kMemFree[] = "var.memfree";
const char kScreenWidth[] = "config.screenarea.width";
const char kScreenHeight[] = "config.screenarea.height";
const char kScreenWidthValue[] = "720";
const char kNoAddress[] = "00:00:00:00:00:00";

bool IsZero(const ISystemFacts::THardwareAddress& address) {
  for (uint8_t byte : address.bytes) {
    if (byte != 0) return false;
  }
  return true;
}

// Frees a string the HAL handed over.
struct THalString {
  char* text = nullptr;
  ~THalString() { std::free(text); }
};

}  // namespace

TOsAdapter::TOsAdapter(bool hostEnvironment, const ISystemFacts& system, const IClock& clock)
    : hostEnvironment_(hostEnvironment), system_(system), clock_(clock) {}

TOsAdapter::~TOsAdapter() = default;

void TOsAdapter::InitializeObjects() {
  InitializeEth0Objects();
  if (!hostEnvironment_) {
    InitializeHalObjects();
  } else {
    objects_[kScreenWidth] = kScreenWidthValue;
    objects_[kScreenHeight] = "576";
  }
  InitializeVarObjects();
  InitializeDerivedObjects();
}

bool TOsAdapter::GetObject(const std::string& name, std::string& value) const {
  if (name == kUtcTime) {
    value = ConvertUint32ToString(static_cast<unsigned int>(clock_.WallSeconds()));
    return true;
  }
  if (name == kMemFree) {
    ISystemFacts::TMemory memory;
    if (system_.GetMemory(memory)) {
      // Computed in 64 bits and capped: a host with more than 4 GiB free would otherwise see
      // the product wrap around to a small number.
      const uint64_t kib = (memory.freeRam * memory.unit) >> 10;
      value = ConvertUint32ToString(kib > UINT32_MAX ? UINT32_MAX : static_cast<unsigned int>(kib));
    }
    return true;
  }
  return TInformationAdapter::GetObject(name, value);
}

bool TOsAdapter::IsComputedOnRead(const std::string& name) const {
  return name == kUtcTime || name == kMemFree;
}

std::string TOsAdapter::ConvertUint32ToString(unsigned int n) const { return std::to_string(n); }

std::string TOsAdapter::FormatHardwareAddress(const ISystemFacts::THardwareAddress& address) {
  char text[sizeof "00:00:00:00:00:00"];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address.bytes[0],
                address.bytes[1], address.bytes[2], address.bytes[3], address.bytes[4],
                address.bytes[5]);
  return text;
}

void TOsAdapter::InitializeEth0Objects() {
  ISystemFacts::THardwareAddress address;
  switch (system_.GetHardwareAddress("eth0", address)) {
    case ISystemFacts::THardwareAddressResult::eOk:
      objects_["const.ip.eth0.mac"] = FormatHardwareAddress(address);
      return;
    case ISystemFacts::THardwareAddressResult::eNoSocket:
      if (hostEnvironment_) break;
      tracker_->Fatal("TOsAdapter: Could not open UDP socket; errno = %d", errno);
      std::abort();
    case ISystemFacts::THardwareAddressResult::eNoAddress:
      if (hostEnvironment_) break;
      tracker_->Fatal("TOsAdapter: Could not get eth0 MAC address");
      std::abort();
  }
  objects_["const.ip.eth0.mac"] = FallbackHardwareAddress();
}

std::string TOsAdapter::FallbackHardwareAddress() const {
  for (const std::string& name : system_.GetInterfaceNames()) {
    ISystemFacts::THardwareAddress address;
    if (system_.GetHardwareAddress(name, address) != ISystemFacts::THardwareAddressResult::eOk ||
        address.loopback || IsZero(address)) {
      continue;
    }
    const std::string text = FormatHardwareAddress(address);
    tracker_->Warning("TOsAdapter: Could not get eth0 MAC address; using %s of %s", text.c_str(),
                      name.c_str());
    return text;
  }
  tracker_->Warning("TOsAdapter: Could not get eth0 MAC address; using %s", kNoAddress);
  return kNoAddress;
}

void TOsAdapter::InitializeHalObjects() {
  {
    THalString info[4];
    if (IHaiSystem_GetInfo(&info[0].text, &info[1].text, &info[2].text, &info[3].text) != 0) {
      tracker_->Fatal("TOsAdapter: Could not get HAL system info");
      std::abort();
    }
    objects_["config.architecture.target"] = info[1].text != nullptr ? info[1].text : "";
  }
  THaiHandle firmware = nullptr;
  if (IHaiSystem_OpenResource("Firmware", "0", 0, &firmware) != 0) {
    tracker_->Error("TOsAdapter: Could not open firmware resource");
  } else {
    THalString version;
    if (IHaiFirmware_GetVersion(firmware, &version.text) == 0 && version.text != nullptr) {
      objects_["const._fw.version"] = version.text;
    } else {
      tracker_->Error("TOsAdapter: Could not get firmware info");
    }
    IHaiSystem_CloseResource(firmware);
  }
  objects_[kScreenWidth] = kScreenWidthValue;
  const std::string colorSystem = ReadColorSystem();
  const bool ntsc = colorSystem.size() >= 4 && strncasecmp(colorSystem.c_str(), "NTSC", 4) == 0;
  objects_[kScreenHeight] = ntsc || strcasecmp(colorSystem.c_str(), "PAL-M") == 0 ? "480" : "576";
}

std::string TOsAdapter::ReadColorSystem() const {
  TSingleProcFileValue user(RootPath("/proc/qboxuserparam"), "usercolorcoding");
  if (user.Read()) return user.GetValue();
  TSingleProcFileValue production(RootPath("/proc/qboxparam"), "currentcolorcoding");
  if (production.Read()) return production.GetValue();
  return "PAL";
}

void TOsAdapter::InitializeVarObjects() {
  objects_[kUtcTime] = "";
  objects_[kMemFree] = "";
}

void TOsAdapter::InitializeDerivedObjects() {
  const int width = std::atoi(objects_[kScreenWidth].c_str());
  const int height = std::atoi(objects_[kScreenHeight].c_str());
  tracker_->Trace(
      "Calculating visiblearea.* objects from screenarea.width = %d, screenarea.height = %d", width,
      height);
  const uint32_t w = static_cast<uint32_t>(width);
  const uint32_t h = static_cast<uint32_t>(height);
  const uint32_t safeWidth = (w * 17 + 10) / 20;
  const uint32_t safeHeight = (h * 17 + 10) / 20;
  objects_["config.safearea.width"] = ConvertUint32ToString(safeWidth);
  objects_["config.safearea.height"] = ConvertUint32ToString(safeHeight);
  objects_["config.portalarea.width"] = ConvertUint32ToString(w);
  objects_["config.portalarea.height"] = ConvertUint32ToString(h);
  objects_["config.visiblearea.x"] = ConvertUint32ToString((w - safeWidth) / 2);
  objects_["config.visiblearea.y"] = ConvertUint32ToString((h - safeHeight) / 2);
  objects_["config.visiblearea.width"] = ConvertUint32ToString(safeWidth);
  objects_["config.visiblearea.height"] = ConvertUint32ToString(safeHeight);
}

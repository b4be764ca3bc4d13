#include "adapters/TProcProdAdapter.h"

#include <cstdio>
#include <cstring>

#include "adapters/TSingleProcFileValue.h"

namespace {

struct TParam {
  const char* object;
  const char* parameter;
};

// Object name and parameter file, in reading order. "model" feeds two objects; the hardware
// product name is replaced afterwards by the boot image compatibility rule.
const TParam kParams[] = {
    {"cfg.media.tv.output", "currentvideomode"},
    {"cfg.media.tv.colorsystem", "currentcolorcoding"},
    {"_fw.cfg.ip.eth0.mode", "ipconfigmethod"},
    {"_fw.cfg.ip.eth0.addr", "IPAddress"},
    {"_fw.cfg.ip.eth0.mask", "Netmask"},
    {"_fw.cfg.ip.gateway", "Gateway"},
    {"_fw.cfg.ip.dns1", "DNS1"},
    {"_fw.cfg.ip.dns2", "DNS2"},
    {"_fw.cfg.ip.metachannel", "Bootcast"},
    {"const.hw.serialnumber", "serialnumber"},
    {"const.hw.version", "productnumber"},
    {"const.hw.manufacturer", "manufacturer"},
    {"config.productname", "model"},
    {"const.hw.productname", "model"},
    {"const.hw._mainprocessor", "mainprocessor"},
    {"const.hw._dsp", "dsp"},
    {"const.hw._dvbnim", "dvbnim"},
    {"const.hw._rfmodulator", "rfmodulator"},
    {"const.hw._hdmi", "hdmi"},
    {"config.architecture.dblcompatibility", "dblcomp"},
    {"config.architecture.bootimagecompatibility", "bootimagecomp"},
    {"config.architecture.bootcastid", "bootcastid"},
};

const char kProductNamePrefix[] = "nm-box-rev-";
const char kDefaultRevision[] = "2";
// The model whose decoder does AVC even without a separate DSP.
constexpr unsigned int kAvcModel = 19;

const char* Flag(bool on) { return on ? "true" : "false"; }

}  // namespace

TProcProdAdapter::TProcProdAdapter(IInformationService* service, bool hostEnvironment,
                                   const std::string& parameterDirectory)
    : service_(service),
      hostEnvironment_(hostEnvironment),
      parameterDirectory_(parameterDirectory) {
  (void)service_;
}

TProcProdAdapter::~TProcProdAdapter() = default;

void TProcProdAdapter::InitializeObjects() {
  if (hostEnvironment_) return;
  for (const TParam& param : kParams) {
    TSingleProcFileValue file(parameterDirectory_, param.parameter);
    if (file.Read()) objects_[param.object] = TranslateFromProc(param.object, file.GetValue());
  }
  const auto bootImage = objects_.find("config.architecture.bootimagecompatibility");
  objects_["const.hw.productname"] =
      kProductNamePrefix + (bootImage != objects_.end() ? bootImage->second : kDefaultRevision);
  InitializeDerivedObjects();
}

bool TProcProdAdapter::HasObject(const std::string& name) const {
  return objects_.count(name) != 0;
}

std::string TProcProdAdapter::TranslateFromProc(const std::string& object,
                                                const std::string& value) const {
  if (object == "cfg.media.tv.output") {
    if (value == "CVBS") return "Video";
    if (value == "SVIDEO") return "S-Video";
  }
  // The firmware's "Fixed" is the platform's "Static". No parameter is read under this name
  // (the address method is stored as _fw.cfg.ip.eth0.mode, untranslated), so the rule only
  // answers callers that ask for it by name.
  if (object == "_fw.ip.eth0.mode" && value == "Fixed") return "Static";
  return value;
}

void TProcProdAdapter::InitializeDerivedObjects() {
  objects_["config.productdisplayname"] =
      objects_["const.hw.manufacturer"] + " " + objects_["config.productname"];
  objects_["const.capabilities.dtt"] = Flag(IsPresent("const.hw._dvbnim"));
  const unsigned int model = ReadModelNumber();
  objects_["const.capabilities.macrovision"] =
      Flag(objects_["const.hw._mainprocessor"].compare(0, 6, "QT4410") == 0);
  objects_["const.capabilities.decoder.avc"] =
      Flag(IsPresent("const.hw._dsp") || model == kAvcModel);
  objects_["const.capabilities.rf"] = Flag(IsPresent("const.hw._rfmodulator"));
  objects_["const.capabilities.hdmi"] = Flag(IsPresent("const.hw._hdmi"));
}

unsigned int TProcProdAdapter::ReadModelNumber() const {
  TSingleProcFileValue file(parameterDirectory_, "model");
  if (!file.Read()) return 0;
  // The word buffer holds the whole value, so the scan can never run past it.
  char word[TSingleProcFileValue::kValueSize];
  unsigned int number = 0;
  const int found = std::sscanf(file.GetValue(), "NMB%u%1023s", &number, word);
  if (found < 1) return 0;
  return found == 2 ? number / 100 : number;
}

bool TProcProdAdapter::IsPresent(const std::string& name) {
  const std::string& value = objects_[name];
  return !value.empty() && value != "No";
}

// The production parameters of the box: the kernel publishes what was written into the box at
// the factory (serial number, model, hardware options, factory network settings, boot
// compatibility) as one small file per parameter in a directory, normally /proc/qboxparam.
// They are read once at start-up into the base's object map, together with the objects derived
// from them (display name, hardware product name, capability flags), and never change after:
// the adapter takes no writes. Without the HAL (host environment) it holds nothing, since a
// development host has no such directory. Runs on the loop thread.
//
// Derived objects, with H(x) meaning "x is neither empty nor exactly No":
//   config.productdisplayname         manufacturer + " " + model
//   const.hw.productname              "nm-box-rev-" + bootimagecomp, "nm-box-rev-2" without it
//   const.capabilities.dtt            H(dvbnim)
//   const.capabilities.macrovision    mainprocessor begins with "QT4410"
//   const.capabilities.decoder.avc    H(dsp), or a model number of 19
//   const.capabilities.rf / .hdmi     H(rfmodulator) / H(hdmi)
// The model number comes from the model text "NMB<number>[ <word>]": the number alone, or the
// number / 100 when a word follows ("NMB1910 X" and "NMB19" give 19, "NMB1910" gives 1910).
#pragma once

#include <string>

#include "service/IInformationService.h"
#include "service/TInformationAdapter.h"

class TProcProdAdapter final : public TInformationAdapter {
 public:
  // Keeps the arguments; reads nothing. The service is not used.
  TProcProdAdapter(IInformationService* service, bool hostEnvironment,
                   const std::string& parameterDirectory);
  ~TProcProdAdapter() override;

  // IInformationAdapter
  // Reads every parameter file of the table and derives the further objects. A missing or
  // unreadable file (1024 bytes or more counts as unreadable) leaves its object absent;
  // nothing is traced and nothing is reported, since no client can have subscribed yet.
  void InitializeObjects() override;
  bool HasObject(const std::string& name) const override;

  // The stored form of a raw parameter value: the video outputs "CVBS" and "SVIDEO" become
  // "Video" and "S-Video", and "Fixed" of _fw.ip.eth0.mode becomes "Static"; everything else
  // is kept as it is.
  std::string TranslateFromProc(const std::string& object, const std::string& value) const;

 private:
  void InitializeDerivedObjects();
  unsigned int ReadModelNumber() const;
  // Whether a hardware option is fitted; creates the object empty when it is not held.
  bool IsPresent(const std::string& name);

  IInformationService* service_;
  bool hostEnvironment_;
  std::string parameterDirectory_;
};

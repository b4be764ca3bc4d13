// The time and target filters that an ordinary Infocast object may carry in its dynamic
// packet header, evaluated against this box. Both receiving channels (the Infocast channels
// and the management channel) evaluate the same encodings; only the prefix of their traces
// differs, so it is data here. Holds no state but its references; runs on the loop thread.
//
// Time filter: 16 ASCII characters, two 8-digit hexadecimal Unix times, start then end. It
// is active when start <= now <= end (both inclusive, unsigned):
//   "00000000FFFFFFFF" is always active; "6553F100" + "6553F1FF" is active from 1700000000
//   to 1700000255 only.
//
// Target filter: exactly 32 bytes: a type letter, an operator, an operand ended by the first
// NUL. A filter that does not match drops the packet.
//   I  box address var.ip.eth0.addr inside (=) or outside (!) the range of the operand,
//      which is "FIRSTADR?LASTADDR" with its NUL at byte 19: "I=0A000000-0AFFFFFF" matches
//      a box at 10.1.2.3, "I!0A000000-0AFFFFFF" does not.
//   Z  cfg.locale.timezone (cut to 30 characters), = or !: "Z=" matches an empty time zone.
//   U  cfg._userfilter (cut to 30), = or !.   A  cfg._userversion (cut to 30), = or !.
//   S  const.sw.date "." const.sw.time, < = > or !, compared bytewise: a build of
//      2008-05-01.10:00 sorts before "2008-05-01.9:00", so "S<2008-05-01.9:00" matches it.
//   F  const._fw.version, < = > or !.
//   H  const.hw.manufacturer "-" const.hw.productname, plus ":" const.hw.version when any of
//      the 32 bytes is a colon (even after the NUL); cut to 30; < = > or !. The management
//      channel reads all three objects in that order whatever the filter holds, so that a
//      missing const.hw.version is traced there too; the result is the same.
// "<" matches when the box's property sorts before the operand, ">" when after. Unknown
// letters, unsupported operators, a text operand without NUL in its 32 bytes and a range
// operand whose NUL is not at byte 19 are traced as errors and do not match.
#pragma once

#include <cstdint>
#include <string>

#include "base/TTracker.h"
#include "infocast/IInformationObjectReader.h"
#include "os/IClock.h"

class TInfocastFilters final {
 public:
  static constexpr size_t kTimeFilterLength = 16;
  static constexpr size_t kTargetFilterLength = 32;

  // Whether the hardware filter reads const.hw.version only for a filter with a colon (the
  // Infocast channel) or always (the management channel).
  enum class TVersionRead { kWhenColon, kAlways };

  // prefix starts every trace ("TInfocastChannel: "); it must outlive this object, as must
  // reader, clock and tracker.
  TInfocastFilters(const char* prefix, IInformationObjectReader& reader, const IClock& clock,
                   TTracker& tracker, TVersionRead versionRead = TVersionRead::kWhenColon);

  // Reads an object of the box; a failure is traced as "<prefix>%s (%s)" with the
  // exception's text and the name, and leaves value as it was.
  void GetInformationObject(const std::string& name, std::string& value) const;

  bool TimeFilterActive(const std::string& filter) const;
  // Dispatches on the type letter (byte 0) to one of the Check operations.
  bool TargetFilterActive(const std::string& filter) const;
  bool CheckIPRangeFilter(const std::string& filter) const;
  bool CheckTimezoneFilter(const std::string& filter) const;
  bool CheckUserFilter(const std::string& filter) const;
  bool CheckApplicationFilter(const std::string& filter) const;
  bool CheckSoftwareFilter(const std::string& filter) const;
  bool CheckFirmwareFilter(const std::string& filter) const;
  bool CheckHardwareFilter(const std::string& filter) const;

  // The dotted address as a 32-bit number, first part in the high byte; "" gives 0.
  static uint32_t AddressFromDottedText(const std::string& text);

 private:
  // Compares the property with the operand of a text filter; ordered says whether < and >
  // are accepted; what names the filter in the "not null terminated" trace.
  bool CheckTextFilter(const std::string& filter, std::string property, size_t cut, bool ordered,
                       const char* what) const;
  std::string Read(const std::string& name) const;
  void TraceUnsupportedOperator(const std::string& filter) const;

  const char* prefix_;
  IInformationObjectReader& reader_;
  const IClock& clock_;
  TTracker& tracker_;
  TVersionRead versionRead_;
};

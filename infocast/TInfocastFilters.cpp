#include "infocast/TInfocastFilters.h"

#include <cstdio>

#include "base/TException.h"

namespace {

constexpr size_t kPropertyCut = 30;
// Where the range operand of an I filter puts its terminator, and its two addresses.
constexpr size_t kRangeTerminator = 19;
constexpr size_t kRangeFirst = 2;
constexpr size_t kRangeLast = 11;
constexpr size_t kHexDigits = 8;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Up to kHexDigits hexadecimal digits from offset, stopping at the first other character or
// at the end of the text, as strtoul would read a field of that width.
uint32_t ParseHexField(const std::string& text, size_t offset) {
  uint32_t value = 0;
  for (size_t i = offset; i < text.size() && i < offset + kHexDigits; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) break;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

char At(const std::string& text, size_t index) { return index < text.size() ? text[index] : '\0'; }

// The first kTargetFilterLength bytes, which is all a filter may use.
std::string FilterBytes(const std::string& filter) {
  return filter.substr(0, TInfocastFilters::kTargetFilterLength);
}

}  // namespace

TInfocastFilters::TInfocastFilters(const char* prefix, IInformationObjectReader& reader,
                                   const IClock& clock, TTracker& tracker, TVersionRead versionRead)
    : prefix_(prefix),
      reader_(reader),
      clock_(clock),
      tracker_(tracker),
      versionRead_(versionRead) {}

void TInfocastFilters::GetInformationObject(const std::string& name, std::string& value) const {
  try {
    value = reader_.GetObject(name);
  } catch (const TException& e) {
    tracker_.Error("%s%s (%s)", prefix_, e.GetText(), name.c_str());
  }
}

std::string TInfocastFilters::Read(const std::string& name) const {
  std::string value;
  GetInformationObject(name, value);
  return value;
}

uint32_t TInfocastFilters::AddressFromDottedText(const std::string& text) {
  // Four decimal parts at most; digits after the ninth of a part are ignored so that a
  // hostile value cannot overflow. Well-formed IPv4 text gives its 32-bit value.
  uint32_t parts[4] = {0, 0, 0, 0};
  size_t part = 0;
  size_t digits = 0;
  for (char c : text) {
    if (c == '.') {
      if (++part == 4) break;
      digits = 0;
    } else if (c >= '0' && c <= '9' && digits < 9) {
      parts[part] = parts[part] * 10 + static_cast<uint32_t>(c - '0');
      ++digits;
    }
  }
  return (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3];
}

bool TInfocastFilters::TimeFilterActive(const std::string& filter) const {
  const uint32_t start = ParseHexField(filter, 0);
  const uint32_t end = ParseHexField(filter, kHexDigits);
  // Unix time as the filter carries it: 32 bits, unsigned.
  const uint32_t now = static_cast<uint32_t>(clock_.WallSeconds());
  return start <= now && now <= end;
}

bool TInfocastFilters::TargetFilterActive(const std::string& filter) const {
  const char type = At(filter, 0);
  switch (type) {
    case 'I':
      return CheckIPRangeFilter(filter);
    case 'Z':
      return CheckTimezoneFilter(filter);
    case 'U':
      return CheckUserFilter(filter);
    case 'A':
      return CheckApplicationFilter(filter);
    case 'S':
      return CheckSoftwareFilter(filter);
    case 'F':
      return CheckFirmwareFilter(filter);
    case 'H':
      return CheckHardwareFilter(filter);
    default:
      tracker_.Error("%sTarget type %c not supported", prefix_, type);
      return false;
  }
}

void TInfocastFilters::TraceUnsupportedOperator(const std::string& filter) const {
  tracker_.Error("%sTarget operator %c not supported for target type %c", prefix_, At(filter, 1),
                 At(filter, 0));
}

bool TInfocastFilters::CheckIPRangeFilter(const std::string& filter) const {
  const std::string bytes = FilterBytes(filter);
  if (bytes.find('\0') != kRangeTerminator) {
    tracker_.Error("%sTarget filter data invalid, %s", prefix_, bytes.c_str());
    return false;
  }
  const uint32_t first = ParseHexField(bytes, kRangeFirst);
  const uint32_t last = ParseHexField(bytes, kRangeLast);
  const uint32_t address = AddressFromDottedText(Read("var.ip.eth0.addr"));
  switch (At(bytes, 1)) {
    case '=':
      return first <= address && address <= last;
    case '!':
      return address < first || address > last;
    default:
      TraceUnsupportedOperator(bytes);
      return false;
  }
}

bool TInfocastFilters::CheckTextFilter(const std::string& filter, std::string property, size_t cut,
                                       bool ordered, const char* what) const {
  if (property.size() > cut) property.resize(cut);
  const std::string bytes = FilterBytes(filter);
  const size_t terminator = bytes.find('\0');
  if (terminator == std::string::npos) {
    tracker_.Error("%s%s filter string is not null terminated", prefix_, what);
    return false;
  }
  const std::string operand = terminator > 2 ? bytes.substr(2, terminator - 2) : std::string();
  // std::string compares char_traits<char>, which orders as unsigned bytes.
  const int order = property.compare(operand);
  switch (At(bytes, 1)) {
    case '=':
      return order == 0;
    case '!':
      return order != 0;
    case '<':
      if (ordered) return order < 0;
      break;
    case '>':
      if (ordered) return order > 0;
      break;
    default:
      break;
  }
  TraceUnsupportedOperator(bytes);
  return false;
}

bool TInfocastFilters::CheckTimezoneFilter(const std::string& filter) const {
  return CheckTextFilter(filter, Read("cfg.locale.timezone"), kPropertyCut, false, "Timezone");
}

bool TInfocastFilters::CheckUserFilter(const std::string& filter) const {
  return CheckTextFilter(filter, Read("cfg._userfilter"), kPropertyCut, false, "User");
}

bool TInfocastFilters::CheckApplicationFilter(const std::string& filter) const {
  return CheckTextFilter(filter, Read("cfg._userversion"), kPropertyCut, false, "Application");
}

bool TInfocastFilters::CheckSoftwareFilter(const std::string& filter) const {
  const std::string build = Read("const.sw.date") + "." + Read("const.sw.time");
  return CheckTextFilter(filter, build, std::string::npos, true, "Software");
}

bool TInfocastFilters::CheckFirmwareFilter(const std::string& filter) const {
  return CheckTextFilter(filter, Read("const._fw.version"), std::string::npos, true, "Firmware");
}

bool TInfocastFilters::CheckHardwareFilter(const std::string& filter) const {
  std::string hardware = Read("const.hw.manufacturer");
  hardware += "-";
  hardware += Read("const.hw.productname");
  const bool colon = FilterBytes(filter).find(':') != std::string::npos;
  if (colon || versionRead_ == TVersionRead::kAlways) {
    const std::string version = Read("const.hw.version");
    if (colon) hardware += ":" + version;
  }
  return CheckTextFilter(filter, hardware, kPropertyCut, true, "Hardware");
}

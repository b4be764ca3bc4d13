#include "adapters/TLastKeyAdapter.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "os/ReadFileUpTo.h"
#include "os/RootPath.h"

namespace {

const char kNoKey[] = "0x00000000";
const char kRecognisedKey[] = "0x007BC97B";
const char kParameter[] = "last_key";
constexpr size_t kMaxCommandLine = 1023;

// One signed decimal int at text (leading blanks skipped); advances text past it. False when
// there is no number or it does not fit an int.
bool ParseInt(const char*& text, int& number) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  number = static_cast<int>(value);
  text = end;
  return true;
}

}  // namespace

TLastKeyAdapter::TLastKeyAdapter(bool /*hostEnvironment*/) {}

TLastKeyAdapter::~TLastKeyAdapter() = default;

void TLastKeyAdapter::InitializeObjects() {
  std::string text;
  ReadFileUpTo(RootPath("/proc/cmdline"), kMaxCommandLine, text);  // unreadable reads as empty
  objects_["var.last_scankey"] = ScanCodeOf(text.c_str());
}

std::string TLastKeyAdapter::ScanCodeOf(const char* commandLine) {
  const char* text = std::strstr(commandLine, kParameter);
  if (text == nullptr) return kNoKey;
  text += sizeof kParameter - 1;
  int numbers[3];
  for (int i = 0; i < 3; ++i) {
    if (*text++ != (i == 0 ? '=' : ',')) return kNoKey;
    if (!ParseInt(text, numbers[i])) return kNoKey;
  }
  const bool recognised = (numbers[0] == 2 && numbers[1] == 0 && numbers[2] == 73) ||
                          (numbers[0] == 0 && numbers[1] == 3 && numbers[2] == 96);
  return recognised ? kRecognisedKey : kNoKey;
}

// The key held while the box started, as the boot loader reports it on the kernel command
// line: one object, var.last_scankey, set once at start-up and never changed. It behaves the
// same on a development host. Runs on the loop thread.
//
// Rule: the first "last_key" in /proc/cmdline (at most 1023 bytes are read) must be followed
// by "=<a>,<b>,<c>", three signed decimal numbers (blanks before each allowed, anything after
// the third ignored). (2,0,73) and (0,3,96) are the recognised key, "0x007BC97B"; everything
// else, and no command line at all, gives "0x00000000".
//   "last_key=2,0,73"      -> 0x007BC97B     "last_key=0,3,96,5"  -> 0x007BC97B
//   "xlast_key=2,0,73"     -> 0x007BC97B     "last_key=2,0"       -> 0x00000000
//   "last_key 2,0,73"      -> 0x00000000     "last_key=2,0,72"    -> 0x00000000
#pragma once

#include <string>

#include "service/TInformationAdapter.h"

class TLastKeyAdapter final : public TInformationAdapter {
 public:
  // The host flag changes nothing: a development host reads its command line the same way.
  explicit TLastKeyAdapter(bool hostEnvironment);
  ~TLastKeyAdapter() override;

  // IInformationAdapter
  // Reads the command line and sets var.last_scankey; traces and reports nothing.
  void InitializeObjects() override;

  // The scan code for a command line text.
  static std::string ScanCodeOf(const char* commandLine);
};

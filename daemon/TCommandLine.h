// The daemon's command line: getopt over the option string "htsi:f:g:y:w:m:e:n:d:a:op:c:".
// Options come in any order, a later occurrence overrides an earlier one, and arguments that
// are not options are ignored. Numbers are taken with atoi, so a text that is not a number
// gives 0. Plain value type; parsing keeps no state between calls.
#pragma once

#include <cstdio>
#include <string>

#include "ipc/TIpcServer.h"

class TCommandLine final {
 public:
  enum class TResult {
    eRun,        // options read; start the service
    eHelp,       // -h: usage printed, exit with 0
    eBadOption,  // unknown option or missing argument: usage printed, exit with 1
  };

  static constexpr const char* kOptions = "htsi:f:g:y:w:m:e:n:d:a:op:c:";

  // Reads argv (which getopt may reorder) into the fields below. Prints the usage text with
  // argv[0] to usageStream for -h and for a bad option.
  TResult Parse(int argc, char** argv, FILE* usageStream = stderr);
  static void PrintUsage(FILE* stream, const char* programName);

  bool standalone = false;         // -s
  bool hostEnvironment = false;    // -t
  std::string ipcAddressFile;      // -i
  std::string settingsFile;        // -f
  std::string backupFile;          // -g
  int writeDelay = 10;             // -y, seconds
  int writeLimit = 10;             // -w, writes per 24 hours
  std::string metaChannelAddress;  // -m
  std::string metaChannelFile;     // -e
  int packetBufferSize = 1600;     // -n, bytes
  std::string defaultsFile;        // -d
  std::string aliasFile;           // -a
  bool opchMode = false;           // -o
  std::string policyFile;          // -p, access policy; empty: every peer may do everything
  // -c, connections one user may hold (root and the daemon's own user are not bounded)
  int maxConnectionsPerPeer = static_cast<int>(TIpcServer::kMaxConnectionsPerPeer);
};

#include "daemon/TCommandLine.h"

#include <unistd.h>

#include <cstdlib>

void TCommandLine::PrintUsage(FILE* stream, const char* programName) {
  std::fprintf(stream, "Usage: %s [<options>]\n", programName);
  std::fputs(
      "  -h  show this help\n"
      "  -s  standalone mode (no platform)\n"
      "  -t  host environment (no HAL)\n"
      "  -i  <filename> write server socket address to file\n"
      "  -f  <filename> settings file in flash file system\n"
      "  -g  <filename> backup file for ffs\n"
      "  -y  <delay> ffs write delay in seconds\n"
      "  -w  <limit> ffs write limit (24h)\n"
      "  -m  <address> infocast meta channel address\n"
      "  -e  <filename> infocast meta channel address\n"
      "  -n  <size> infocast packet buffer size in bytes\n"
      "  -d  <filename> read default values from file\n"
      "  -a  <filename> read alias list from file\n"
      "  -o  opch mode\n"
      "  -p  <filename> access policy: who may read, write and subscribe which names\n"
      "  -c  <count> connections per peer user (default 64)\n",
      stream);
}

TCommandLine::TResult TCommandLine::Parse(int argc, char** argv, FILE* usageStream) {
  const char* programName = argc > 0 && argv[0] ? argv[0] : "infoservice";
  // 0 rather than 1 makes glibc's getopt forget any earlier scan, so parsing can be repeated.
  optind = 0;
  int option;
  while ((option = getopt(argc, argv, kOptions)) != -1) {
    switch (option) {
      case 'h':
        PrintUsage(usageStream, programName);
        return TResult::eHelp;
      case 's':
        standalone = true;
        break;
      case 't':
        hostEnvironment = true;
        break;
      case 'i':
        ipcAddressFile = optarg;
        break;
      case 'f':
        settingsFile = optarg;
        break;
      case 'g':
        backupFile = optarg;
        break;
      case 'y':
        writeDelay = std::atoi(optarg);
        break;
      case 'w':
        writeLimit = std::atoi(optarg);
        break;
      case 'm':
        metaChannelAddress = optarg;
        break;
      case 'e':
        metaChannelFile = optarg;
        break;
      case 'n':
        packetBufferSize = std::atoi(optarg);
        break;
      case 'd':
        defaultsFile = optarg;
        break;
      case 'a':
        aliasFile = optarg;
        break;
      case 'o':
        opchMode = true;
        break;
      case 'p':
        policyFile = optarg;
        break;
      case 'c':
        maxConnectionsPerPeer = std::atoi(optarg);
        break;
      default:
        PrintUsage(usageStream, programName);
        return TResult::eBadOption;
    }
  }
  return TResult::eRun;
}

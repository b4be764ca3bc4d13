// Every fixed path of the box (the token dictionary under /etc, /flash2, /tmp2, files under
// /proc, syslog files, the HAL's backing files, the IPC runtime directory) is resolved here,
// so that a development host or a test can run the whole daemon inside a directory tree of
// its own: the environment variable INFOSERVICE_ROOT is put in front of the path. Unset or
// empty, paths are used as they are.
//   INFOSERVICE_ROOT=/tmp/r  RootPath("/etc/x.xml") -> "/tmp/r/etc/x.xml"
//   INFOSERVICE_ROOT unset   RootPath("/etc/x.xml") -> "/etc/x.xml"
// Paths given on the command line are the user's and are not prefixed.
#pragma once

#include <string>

std::string RootPath(const std::string& boxPath);

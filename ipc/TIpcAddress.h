// The address of a served object: "ipc:" + the absolute path of the server's Unix socket +
// "#" + the object's number on that server.
//
//   ipc:/tmp/infoservice-ipc/s412-1.sock#3                  valid
//   ipc:/r/tmp/infoservice-ipc/s9-2.sock#4294967295         valid (largest object number)
//   ipc:/tmp/x.sock#0, ipc:/tmp/x.sock#03, ipc:/tmp/x.sock#  invalid object number
//   ipc:tmp/x.sock#1 (relative), ipc:/tmp/x#1 (no ".sock"), unix:/tmp/x.sock#1   invalid
//
// The path holds printable ASCII without "#" and fits a socket address (at most 107 bytes).
// Parse accepts exactly the texts Format produces for such a path.
#pragma once

#include <cstdint>
#include <string>

struct TIpcAddress final {
  std::string socketPath;
  uint32_t objectId = 0;

  static constexpr size_t kMaxSocketPath = 107;

  // False when the text is not an address of this runtime.
  static bool Parse(const std::string& text, TIpcAddress& address);
  // Throws TException when the path could not be parsed back.
  static std::string Format(const std::string& socketPath, uint32_t objectId);
  static bool IsValidSocketPath(const std::string& path);
};

// One message of the IPC wire format (docs/ipc.md): a 4-byte big-endian length followed by a
// 12-byte header and the payload.
//
//   offset size  field
//   0      4     length of everything after this field: 12 + payload (12 .. kMaxFrameBody)
//   4      1     version, kIpcVersion
//   5      1     kind: 1 call, 2 one-way call, 3 reply, 4 error reply
//   6      2     operation (calls: 1 .. 65535; replies: 0)
//   8      4     call id (call, reply, error reply: any; one-way: 0)
//   12     4     object id (calls: 1 .. 2^32-1; replies: 0)
//   16     ...   payload: the arguments, the results, or code (2 bytes) and text of an error
//
// Accepted: {len=12, v1, call, op 3, call 7, object 1} -> a call without arguments.
// Refused: len 11 (shorter than the header), len > kMaxFrameBody, version 2, kind 0 or 5,
// a reply with an object id, a one-way call with a call id, a call of operation 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class TIpcFrameKind : uint8_t { eCall = 1, eOneWay = 2, eReply = 3, eError = 4 };

struct TIpcFrame final {
  static constexpr uint8_t kIpcVersion = 1;
  static constexpr size_t kLengthSize = 4;
  static constexpr size_t kHeaderSize = 12;
  // The largest frame the runtime sends or accepts; larger ones close the connection before
  // anything is allocated for them.
  static constexpr uint32_t kMaxFrameBody = 16u * 1024 * 1024;
  // The most elements a list may hold, so that a frame of empty strings cannot decode into
  // many times its own size.
  static constexpr uint32_t kMaxListElements = 65536;

  TIpcFrameKind kind = TIpcFrameKind::eCall;
  uint16_t operation = 0;
  uint32_t callId = 0;
  uint32_t objectId = 0;
  // Points into the decoder's buffer; valid until the decoder is fed again.
  const char* payload = nullptr;
  size_t payloadSize = 0;

  // Appends length and header to out; the payload (payloadSize bytes) must follow. Throws
  // TException when the payload is too large.
  static void AppendHeader(std::string& out, TIpcFrameKind kind, uint16_t operation,
                           uint32_t callId, uint32_t objectId, size_t payloadSize);
  // Rewrites the header at the start of out for a payload that was appended after a
  // placeholder header, so that encoders write arguments in place without a copy.
  static void PatchHeader(std::string& out, TIpcFrameKind kind, uint16_t operation, uint32_t callId,
                          uint32_t objectId);
};

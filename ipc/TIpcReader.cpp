#include "ipc/TIpcReader.h"

#include "ipc/TIpcFrame.h"
#include "ipc/TIpcProtocolError.h"

const char* TIpcReader::Take(size_t size) {
  if (size > size_ - offset_) throw TIpcProtocolError("payload truncated");
  const char* p = data_ + offset_;
  offset_ += size;
  return p;
}

uint32_t TIpcReader::GetUint32() {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(Take(4));
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

size_t TIpcReader::GetCount(size_t minimumElementSize) {
  const uint32_t count = GetUint32();
  if (count > TIpcFrame::kMaxListElements || count > Remaining() / minimumElementSize) {
    throw TIpcProtocolError("list count " + std::to_string(count) + " exceeds the payload");
  }
  return count;
}

void TIpcReader::Get(bool& value) {
  const char byte = *Take(1);
  if (byte != 0 && byte != 1) throw TIpcProtocolError("bool not 0 or 1");
  value = byte == 1;
}

void TIpcReader::Get(int32_t& value) { value = static_cast<int32_t>(GetUint32()); }

void TIpcReader::Get(uint16_t& value) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(Take(2));
  value = static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void TIpcReader::Get(std::string& value) {
  const uint32_t size = GetUint32();
  const char* bytes = Take(size);
  value.assign(bytes, size);
}

void TIpcReader::ExpectEnd() const {
  if (offset_ != size_) throw TIpcProtocolError("trailing bytes after the arguments");
}

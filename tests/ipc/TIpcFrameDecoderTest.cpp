#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TStringList.h"
#include "ipc/TIpcFrameDecoder.h"
#include "ipc/TIpcProtocolError.h"
#include "ipc/TIpcReader.h"
#include "ipc/TIpcWriter.h"

namespace {

std::string Call(uint16_t operation, uint32_t callId, uint32_t objectId,
                 const std::string& argument) {
  TIpcWriter writer;
  writer.Put(argument);
  return writer.Finish(TIpcFrameKind::eCall, operation, callId, objectId);
}

TEST(TIpcFrameDecoderTest, FramesSplitAtEveryByteDecodeAsWhole) {
  const std::string stream = Call(1, 7, 3, std::string("a\0b", 3)) + Call(4, 8, 3, "second");
  TIpcFrameDecoder decoder;
  std::vector<std::string> payloads;
  for (char byte : stream) {
    decoder.Append(&byte, 1);
    TIpcFrame frame;
    while (decoder.Next(frame)) {
      EXPECT_EQ(frame.kind, TIpcFrameKind::eCall);
      EXPECT_EQ(frame.objectId, 3u);
      payloads.emplace_back(frame.payload, frame.payloadSize);
    }
  }
  ASSERT_EQ(payloads.size(), 2u);
  EXPECT_EQ(payloads[0], std::string("\0\0\0\3a\0b", 7));
  EXPECT_EQ(decoder.Buffered(), 0u);
}

// Header fields: length, version, kind, operation, call id, object id.
std::string Header(uint32_t length, uint8_t version, uint8_t kind, uint16_t operation,
                   uint32_t callId, uint32_t objectId) {
  std::string out;
  for (uint32_t word :
       {length, uint32_t{version} << 24 | uint32_t{kind} << 16 | operation, callId, objectId}) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>(word >> (8 * i)));
  }
  return out;
}

TEST(TIpcFrameDecoderTest, MalformedHeadersAreRefusedBeforeTheirBody) {
  for (const std::string& header : {
           Header(11, 1, 1, 1, 1, 1),                             // shorter than a header
           Header(TIpcFrame::kMaxFrameBody + 1, 1, 1, 1, 1, 1),   // above the limit
           Header(12, 2, 1, 1, 1, 1), Header(12, 0, 1, 1, 1, 1),  // versions
           Header(12, 1, 0, 1, 1, 1), Header(12, 1, 5, 1, 1, 1),  // kinds
           Header(12, 1, 1, 0, 1, 1),                             // call of operation 0
           Header(12, 1, 1, 1, 1, 0),                             // call of object 0
           Header(12, 1, 2, 1, 9, 1),                             // one-way with call id
           Header(12, 1, 3, 1, 1, 0),                             // reply with operation
           Header(12, 1, 4, 0, 1, 1),                             // error reply with object
       }) {
    TIpcFrameDecoder decoder;
    decoder.Append(header.data(), header.size());
    TIpcFrame frame;
    EXPECT_THROW(decoder.Next(frame), TIpcProtocolError) << testing::PrintToString(header);
  }
  // The limit itself is accepted: the decoder waits for the body.
  TIpcFrameDecoder decoder;
  const std::string largest = Header(TIpcFrame::kMaxFrameBody, 1, 1, 1, 1, 1);
  decoder.Append(largest.data(), largest.size());
  TIpcFrame frame;
  EXPECT_FALSE(decoder.Next(frame));
}

// A list count beyond the payload is refused without allocating; lists beyond the element
// limit are neither sent nor accepted.
TEST(TIpcFrameDecoderTest, ListCountsBeyondPayloadOrLimitAreRefused) {
  TIpcWriter huge;
  huge.Put(static_cast<int32_t>(0x7fffffff));  // read back as a list count
  const std::string& hugeFrame = huge.Finish(TIpcFrameKind::eReply, 0, 1, 0);
  TIpcReader hugeReader(hugeFrame.data() + 16, hugeFrame.size() - 16);
  TStringList strings;
  EXPECT_THROW(hugeReader.Get(strings), TIpcProtocolError);
  EXPECT_EQ(strings.capacity(), 0u);
  TIpcWriter writer;
  EXPECT_THROW(writer.Put(TStringList(TIpcFrame::kMaxListElements + 1)), TException);
  TIpcWriter encoded;
  encoded.Put(static_cast<int32_t>(TIpcFrame::kMaxListElements + 1));  // a count, by hand
  for (uint32_t i = 0; i <= TIpcFrame::kMaxListElements; ++i) encoded.Put(static_cast<int32_t>(i));
  const std::string& frame = encoded.Finish(TIpcFrameKind::eReply, 0, 1, 0);
  TIpcReader reader(frame.data() + 16, frame.size() - 16);
  std::vector<int32_t> list;
  EXPECT_THROW(reader.Get(list), TIpcProtocolError);
}

}  // namespace

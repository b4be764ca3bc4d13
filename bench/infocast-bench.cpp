// Throughput of the Infocast object signatures and of the packetizer.
//
// Checksums: MB/s (10^6 bytes per second) over a 1 MiB buffer of random bytes, beside two
// references measured in the same run: a plain byte-at-a-time loop with a serial dependency
// (h = h * 31 + b, the floor of any per-byte loop on this machine) and CRC-32 computed bit by
// bit without a table. Packetizer: datagrams per second for 1400-byte datagrams cut from a
// 1 MiB object, with the CRC-32 precoding (checksum included) and with precoding 0.
// Each figure is measured kRounds times; the line gives min / median / max.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "bench/BenchSupport.h"
#include "infocast/InfocastChecksums.h"
#include "infocast/TInfocastPacketizer.h"

namespace {

constexpr size_t kBufferSize = 1 << 20;
constexpr int kRounds = 7;
constexpr double kRoundSeconds = 0.2;

volatile uint64_t gSink;

uint32_t PlainByteLoop(const uint8_t* begin, const uint8_t* end) {
  uint32_t h = 0;
  for (const uint8_t* p = begin; p != end; ++p) {
    h = h * 31 + *p;
  }
  return h;
}

uint32_t BitwiseCrc32(const uint8_t* begin, const uint8_t* end) {
  uint32_t reg = 0xFFFFFFFFu;
  for (const uint8_t* p = begin; p != end; ++p) {
    reg ^= *p;
    for (int bit = 0; bit < 8; ++bit) {
      reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
  }
  return ~reg;
}

// Runs work (which handles `units` units per call) repeatedly for about kRoundSeconds and
// returns units per second.
double Rate(const std::function<uint64_t()>& work, double units) {
  const auto start = bench::TClock::now();
  uint64_t calls = 0;
  double elapsed = 0;
  do {
    gSink = gSink + work();
    ++calls;
    elapsed = bench::SecondsSince(start);
  } while (elapsed < kRoundSeconds);
  return calls * units / elapsed;
}

void Report(const char* label, const char* unit, const std::function<uint64_t()>& work,
            double units) {
  std::vector<double> rates;
  for (int round = 0; round < kRounds; ++round) {
    rates.push_back(Rate(work, units));
  }
  bench::PrintSpread(label, bench::Spread(rates), unit);
}

}  // namespace

int main() {
  std::vector<uint8_t> buffer(kBufferSize);
  std::mt19937 generator(42);
  for (uint8_t& byte : buffer) {
    byte = static_cast<uint8_t>(generator());
  }
  const uint8_t* begin = buffer.data();
  const uint8_t* end = begin + buffer.size();
  if (BitwiseCrc32(begin, end) != DoCRC32Ethernet(begin, end)) {
    std::fprintf(stderr, "table and bitwise CRC-32 disagree\n");
    return 1;
  }
  const double megabytes = kBufferSize / 1e6;

  std::printf("checksums over a 1 MiB buffer, packetizer over a 1 MiB object\n");
  Report(
      "plain byte loop (reference)", "MB/s", [&] { return PlainByteLoop(begin, end); }, megabytes);
  Report(
      "bitwise CRC-32 (reference)", "MB/s", [&] { return BitwiseCrc32(begin, end); }, megabytes);
  Report(
      "DoCRC32Ethernet", "MB/s", [&] { return DoCRC32Ethernet(begin, end); }, megabytes);
  Report(
      "DoCRC16Run", "MB/s", [&] { return DoCRC16Run(begin, end, 0); }, megabytes);

  for (uint16_t precoding : {uint16_t{0x0004}, uint16_t{0x0000}}) {
    const TInfocastPacketizer packetizer(0x0001, precoding, "bench.object", 1400);
    const double datagrams = packetizer.GetPacketCount(buffer.size());
    uint64_t bytes = 0;
    const TInfocastPacketizer::TSink sink = [&bytes](const uint8_t* datagram, size_t length) {
      bytes += length + datagram[length - 1];
    };
    Report(
        precoding ? "packetizer 1400 B, precoding 0x0004" : "packetizer 1400 B, precoding 0",
        "datagrams/s",
        [&] {
          packetizer.Packetize(begin, buffer.size(), sink);
          return bytes;
        },
        datagrams);
  }
  return 0;
}

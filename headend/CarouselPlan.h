// What a head-end plays: every channel with its bitrate and the objects it repeats, each with
// its data already read. Produced by TCarouselDescriptionParser from a description, played by
// TCarousel. Plain data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One object of a carousel, as its datagrams will carry it.
struct TCarouselObject {
  std::string name;
  uint16_t type = 1;
  uint16_t precoding = 4;
  bool hasTimeFilter = false;
  uint32_t validStart = 0;
  uint32_t validEnd = 0;
  std::string targetFilter;  // empty: no target filter
  std::string data;
  std::string where;  // "FILE:LINE" of the entry that named it
};

// One destination (a multicast group, or a loopback address) and what it repeats, in order.
struct TCarouselChannel {
  std::string address;
  uint16_t port = 0;
  uint64_t rateBitsPerSecond = 0;  // 0: as fast as the socket takes them
  std::vector<TCarouselObject> objects;

  std::string Key() const { return address + ":" + std::to_string(port); }
};

struct TCarouselPlan {
  std::vector<TCarouselChannel> channels;  // the meta channel first
  std::vector<std::string> files;          // every file read: descriptions and sources
};

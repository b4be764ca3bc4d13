// Reads a head-end description: the root configuration that boxes read, with head-end
// attributes that say where each object's data comes from and how fast each channel repeats,
// and turns it into a TCarouselPlan. The configuration itself goes out with those attributes
// stripped, on the meta channel, under the name and type boxes of the mode expect.
//
// Normal mode: the description is the XML configuration (<Infocast>, <Channel>, <Object>).
//   <Channel address="239.1.1.1" port="5001" connection="Persistent" rate="256k">
//     <Object name="cfg.x" fetch="Prefetch" file="x.txt" valid="1700000000-1800000000"/>
//   </Channel>
// Channel takes rate (bits per second, k and M suffixes: 1000 and 1000000); Object takes file
// (relative to the description), and optionally target, valid (START-END, Unix seconds),
// type and precoding (decimal or 0x hex), with infocast-send's meanings. The root goes out as
// "infocast2.conf", type 1.
//
// Opch mode: the description is the extended text, quoted entries TYPE'NAME or
// TYPE'NAME'ADDRESS:PORT; head-end attributes follow an entry's closing quote on its line as
// KEY=VALUE words (no blanks, no quotes in values), nothing else may stand there:
//   "1'cfg.x" file=x.txt
//   "1'var.y'239.1.1.2:5002" file=y.txt rate=64k
//   "C000'news'239.1.1.2:5002" file=news.txt
// Entries without address travel on the channel that carries the text (the meta channel for
// the root); rate= sets the rate of the entry's channel and must be given once for every
// channel other than the meta channel. A C000 entry is a sub-directory: its file is another
// description of this syntax, sent as type 0xC000 under the directory's name. The root goes
// out as type 0xC000 under the product identifier. Text outside entries goes out unchanged.
//
// Every refusal is a TException whose text starts with "FILE:LINE: ": an unreadable file, an
// object over 16 MiB, a name over 29 characters, two objects of one name on a channel, a rate
// below one datagram per second, an address that is not dotted IPv4, and what a box itself
// refuses in the configuration. Parse either returns a whole plan or throws; it keeps no
// state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "headend/CarouselPlan.h"

class TCarouselDescriptionParser final {
 public:
  enum class TMode { kNormal, kOpch };

  struct TSettings {
    TMode mode = TMode::kNormal;
    std::string metaAddress = "127.0.0.1";
    uint16_t metaPort = 5000;
    uint64_t metaRate = 256000;
    std::string productId = "velmora-nm-box-rev-2";
    size_t datagramSize = 1400;
  };

  // Returns a file's bytes, at most limit of them; throws TException with the reason (the
  // parser adds where the file was named).
  using TReader = std::function<std::string(const std::string& path, size_t limit)>;

  // What a box assembles at most, and bounds on a description that a box would also apply.
  static constexpr size_t kMaxObjectBytes = 16u << 20;
  static constexpr size_t kMaxChannels = 128;
  static constexpr size_t kMaxObjects = 8192;
  static constexpr size_t kMaxDirectoryDepth = 8;
  static constexpr size_t kMaxTotalBytes = 256u << 20;

  TCarouselDescriptionParser(const TSettings& settings, TReader reader);

  // Throws TException "FILE:LINE: reason" (or "FILE: reason" for the description itself).
  TCarouselPlan Parse(const std::string& descriptionPath);

  // The reader of real files: refuses what is not a regular file, or is over limit.
  static std::string ReadFile(const std::string& path, size_t limit);
  // "256k" -> 256000, "10M" -> 10000000, "1500" -> 1500; throws TException otherwise.
  static uint64_t ParseRate(const std::string& text);

 private:
  TCarouselChannel& Channel(const std::string& address, uint16_t port, const std::string& where);
  void SetRate(TCarouselChannel& channel, uint64_t rate, const std::string& where);
  void AddObject(TCarouselChannel& channel, TCarouselObject object);
  std::string ReadSource(const std::string& where, const std::string& base,
                         const std::string& file);
  void ApplyAttributes(TCarouselObject& object,
                       const std::map<std::string, std::string>& attributes,
                       const std::string& base);
  std::string ParseXml(const std::string& path, const std::string& text);
  std::string ParseExtended(const std::string& path, const std::string& text,
                            const std::string& channelKey, size_t depth);

  TSettings settings_;
  TReader reader_;
  TCarouselPlan plan_;
  std::map<std::string, size_t> channelIndex_;
  std::map<std::string, std::string> directories_;  // name -> where it was named
  size_t objectCount_ = 0;
  size_t totalBytes_ = 0;
};

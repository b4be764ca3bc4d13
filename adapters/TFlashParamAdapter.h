// The common part of the adapters that keep a few objects in a user-data area of the box's
// flash, reached through the HAL instead of a file system. The area holds one zero-terminated
// XML text of at most kAreaSize bytes with the zero (format at the top of
// TFlashParamAdapter.cpp). A derived adapter names the root element, maps object names to
// element names, translates values in both directions, and decides when to read and write.
// Elements of the area that belong to none of the adapter's objects are kept and written back
// unchanged, so firmware settings this daemon does not know survive its writes. Runs on the
// loop thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "service/TInformationAdapter.h"

class TFlashParamAdapter : public TInformationAdapter {
 public:
  // One row of the parameter table; a table ends with a row whose objectName is null.
  struct TParam {
    const char* objectName;
    const char* elementName;
  };
  using TElements = std::vector<std::pair<std::string, std::string>>;

  // Bytes the HAL reads and writes: the text and its terminating zero byte.
  static constexpr unsigned int kAreaSize = 4096;

  TFlashParamAdapter();
  ~TFlashParamAdapter() override;

  // The name of the area's root element, compared exactly.
  virtual std::string GetRootElementName() const = 0;
  // The constant table of the derived class, in the order the elements are written.
  virtual const TParam* GetParams() const = 0;
  // The object value for the text stored in the area, and the reverse.
  virtual std::string TranslateFromFlash(const std::string& name,
                                         const std::string& text) const = 0;
  virtual std::string TranslateToFlash(const std::string& name, const std::string& value) const = 0;

  // Loads the area at location of the HAL flash resource into the map (no callback). True
  // when the area's content is known: read and parsed, or blank (never written, or erased),
  // which holds nothing to keep. Every failure is traced: a HAL failure leaves the map as it
  // was, an unreadable text empties it.
  bool ReadFromFlash(unsigned int location);
  // Whether a ReadFromFlash has succeeded. A derived adapter writes nothing before: the area
  // may hold the firmware's settings and elements this daemon does not know, and a write of
  // what the map holds would erase them.
  bool IsAreaRead() const { return areaRead_; }
  // Writes the map and the other elements to the area at location. False, traced, when
  // nothing was written (HAL failure, or a text that does not fit); the area then keeps its
  // previous content.
  bool WriteToFlash(unsigned int location);
  // Adds the objects and other elements of the zero-terminated area text to the map and the
  // list; an object already in the map keeps its value, and a second element for it becomes
  // an other element. False when the text does not parse or has another root element: that is
  // traced, the map is emptied and the list is left as it was.
  bool ReadObjectsFromBuffer(const char* text);
  // Appends the area text of the map and the other elements to out (without the zero byte).
  void WriteObjectsToBuffer(std::string& out) const;

  // Whether the area text, with name set to value, still fits into the area.
  bool FitsInArea(const std::string& name, const std::string& value) const;
  // The elements of the area that set no object, in the order read.
  const TElements& GetOtherElements() const { return otherElements_; }

 private:
  void FormatArea(const TObjectMap& objects, std::string& out) const;

  TElements otherElements_;
  bool areaRead_ = false;
};

// The user-data area format
//
// The HAL reads and writes kAreaSize (4096) bytes: an XML text, a zero byte, and whatever
// follows. The text is written as
//
//   <?xml version="1.0"?>\n
//   <ROOT>\n
//     <Element>text</Element>\n      one line per table row whose object is held, table order
//     <Other>text</Other>\n          then every other element, in the order read
//   </ROOT>\n
//
// with two spaces before each element and element text escaped for XML. Text and zero byte
// together must fit into the area: a text of 4095 bytes is written, one of 4096 is not.
//
// Reading: an area without a zero byte is cut at its last byte. The root element must have
// the derived adapter's name exactly; element names match the table regardless of letter
// case ("uservideomode" loads the object of "UserVideoMode", which is written back under the
// table's spelling). The first matching element of an object sets it; a repeated element, and
// one the table does not know, is kept as an other element:
//   <Configuration><DNS1>a</DNS1><Vendor>v</Vendor><dns1>b</dns1></Configuration>
//     -> _fw.cfg.ip.dns1 = "a"; other elements (Vendor, v), (dns1, b)
// Escaping was added after areas had been written without it; such areas parse as before
// unless a value held '<' or '&', in which case the text was never readable anyway.

#include "adapters/TFlashParamAdapter.h"

#include <cctype>

#include "base/TException.h"
#include "hal/Hai.h"
#include "xml/TGeneralXmlParser.h"
#include "xml/TXmlFormat.h"

namespace {

bool SameNameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

void AppendElement(std::string& out, const std::string& name, const std::string& text) {
  out += "  <";
  out += name;
  out += ">";
  out += TXmlFormat(text).GetString();
  out += "</";
  out += name;
  out += ">\n";
}

// Opens the HAL flash resource for the lifetime of one access.
class TFlashResource final {
 public:
  TFlashResource() {
    if (IHaiSystem_OpenResource("Flash", "0", 0, &handle_) != 0) handle_ = nullptr;
  }
  ~TFlashResource() {
    if (handle_ != nullptr) IHaiSystem_CloseResource(handle_);
  }
  TFlashResource(const TFlashResource&) = delete;
  TFlashResource& operator=(const TFlashResource&) = delete;

  THaiHandle Get() const { return handle_; }

 private:
  THaiHandle handle_ = nullptr;
};

// An area that was never written reads as zero bytes, an erased one as 0xFF bytes: either holds
// nothing that a write could lose.
bool IsBlank(const std::vector<char>& area) {
  if (area[0] == '\0') return true;
  for (size_t i = 0; i + 1 < area.size(); ++i) {
    if (static_cast<unsigned char>(area[i]) != 0xFF) return false;
  }
  return true;
}

}  // namespace

TFlashParamAdapter::TFlashParamAdapter() = default;
TFlashParamAdapter::~TFlashParamAdapter() = default;

bool TFlashParamAdapter::ReadFromFlash(unsigned int location) {
  TFlashResource flash;
  if (flash.Get() == nullptr) {
    tracker_->Error("Could not open HAL flash resource");
    return false;
  }
  std::vector<char> area(kAreaSize, '\0');
  if (IHaiFlash_Read(flash.Get(), location, area.data(), kAreaSize) != 0) {
    tracker_->Error("Could not read from flash user data area");
    return false;
  }
  area[kAreaSize - 1] = '\0';
  if (IsBlank(area)) {
    tracker_->Trace("TFlashParamAdapter: The user data area is empty");
    areaRead_ = true;
  } else {
    areaRead_ = ReadObjectsFromBuffer(area.data());
  }
  return areaRead_;
}

bool TFlashParamAdapter::WriteToFlash(unsigned int location) {
  TFlashResource flash;
  if (flash.Get() == nullptr) {
    tracker_->Error("Could not open HAL flash resource");
    return false;
  }
  std::string text;
  WriteObjectsToBuffer(text);
  if (text.size() >= kAreaSize) {
    tracker_->Error("TFlashParamAdapter: Buffer overflow");
    return false;
  }
  if (IHaiFlash_Write(flash.Get(), location, text.c_str(),
                      static_cast<unsigned int>(text.size() + 1)) != 0) {
    tracker_->Error("Could not write to flash user data area");
    return false;
  }
  return true;
}

bool TFlashParamAdapter::ReadObjectsFromBuffer(const char* text) {
  // Built aside and taken over whole, so that a failed read adds nothing and a read tried
  // again after a failure does not repeat the other elements.
  TObjectMap objects = objects_;
  TElements others = otherElements_;
  try {
    TGeneralXmlParser parser;
    parser.Parse(text);
    const TXmlElement& root = parser.GetRootElement();
    if (root.GetName() != GetRootElementName()) {
      throw TException("Unknown root element in user data XML");
    }
    for (const TXmlElement& child : root.GetChildren()) {
      bool loaded = false;
      for (const TParam* param = GetParams(); param->objectName != nullptr && !loaded; ++param) {
        if (SameNameIgnoringCase(child.GetName(), param->elementName) &&
            objects.count(param->objectName) == 0) {
          objects[param->objectName] = TranslateFromFlash(param->objectName, child.GetText());
          loaded = true;
        }
      }
      if (!loaded) others.emplace_back(child.GetName(), child.GetText());
    }
  } catch (const TException& failure) {
    tracker_->Error("TFlashParamAdapter: %s", failure.GetText());
    objects_.clear();
    return false;
  } catch (...) {
    tracker_->Error("TFlashParamAdapter: Unknown exception");
    objects_.clear();
    return false;
  }
  objects_.swap(objects);
  otherElements_.swap(others);
  return true;
}

void TFlashParamAdapter::WriteObjectsToBuffer(std::string& out) const { FormatArea(objects_, out); }

bool TFlashParamAdapter::FitsInArea(const std::string& name, const std::string& value) const {
  TObjectMap objects = objects_;
  objects[name] = value;
  std::string text;
  FormatArea(objects, text);
  return text.size() < kAreaSize;
}

void TFlashParamAdapter::FormatArea(const TObjectMap& objects, std::string& out) const {
  const std::string root = GetRootElementName();
  out += "<?xml version=\"1.0\"?>\n<";
  out += root;
  out += ">\n";
  for (const TParam* param = GetParams(); param->objectName != nullptr; ++param) {
    const auto object = objects.find(param->objectName);
    if (object != objects.end()) {
      AppendElement(out, param->elementName, TranslateToFlash(object->first, object->second));
    }
  }
  for (const auto& [name, text] : otherElements_) AppendElement(out, name, text);
  out += "</";
  out += root;
  out += ">\n";
}

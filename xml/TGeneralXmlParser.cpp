#include "xml/TGeneralXmlParser.h"

#include <expat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "base/TException.h"

namespace {

// Documents come from files and from the network (Infocast configuration texts). The tree is
// destroyed recursively, so a hostile document nested a million levels deep would exhaust the
// stack; real documents are a few levels deep.
constexpr size_t kMaxDepth = 256;

// Builds the tree from expat's callbacks. Exceptions must not cross expat's C frames, so a
// failure inside a callback stops the parser and is raised after XML_Parse returns.
struct TTreeBuilder {
  XML_Parser parser = nullptr;
  TXmlElement* root = nullptr;
  std::vector<TXmlElement*> open;
  bool haveRoot = false;
  const char* failure = nullptr;

  void Fail(const char* reason) {
    if (!failure) failure = reason;
    XML_StopParser(parser, XML_FALSE);
  }

  static void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* self = static_cast<TTreeBuilder*>(data);
    if (self->failure) return;
    try {
      if (self->open.size() >= kMaxDepth) return self->Fail("elements nested too deeply");
      TXmlElement* element;
      if (self->open.empty()) {
        element = self->root;
        self->haveRoot = true;
      } else {
        // Only the innermost open element grows, so pointers to the outer ones stay valid.
        self->open.back()->children.emplace_back();
        element = &self->open.back()->children.back();
      }
      element->name = name;
      element->line = static_cast<unsigned long>(XML_GetCurrentLineNumber(self->parser));
      for (const XML_Char** a = attributes; a[0] && a[1]; a += 2) {
        element->attributes[a[0]] = a[1];
      }
      self->open.push_back(element);
    } catch (const std::bad_alloc&) {
      self->Fail("out of memory");
    }
  }

  static void OnEnd(void* data, const XML_Char*) {
    auto* self = static_cast<TTreeBuilder*>(data);
    if (self->failure || self->open.empty()) return;
    self->open.pop_back();
  }

  static void OnText(void* data, const XML_Char* text, int length) {
    auto* self = static_cast<TTreeBuilder*>(data);
    if (self->failure || self->open.empty()) return;
    try {
      self->open.back()->text.append(text, static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
      self->Fail("out of memory");
    }
  }
};

// Owns the expat parser for the duration of one Parse.
class TExpatParser final {
 public:
  TExpatParser() : parser_(XML_ParserCreate(nullptr)) {
    if (!parser_) throw TException("XML parse error: out of memory");
  }
  ~TExpatParser() { XML_ParserFree(parser_); }
  TExpatParser(const TExpatParser&) = delete;
  TExpatParser& operator=(const TExpatParser&) = delete;
  XML_Parser Get() const { return parser_; }

 private:
  XML_Parser parser_;
};

[[noreturn]] void ThrowParseError(XML_Parser parser, const char* reason) {
  char message[256];
  std::snprintf(message, sizeof message, "XML parse error at line %lu, column %lu: %s",
                static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
                static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)), reason);
  throw TVerboseException(message, 0);
}

void ParseBuffer(const char* data, size_t length, TXmlElement& root) {
  root = TXmlElement();
  TExpatParser expat;
  TTreeBuilder builder;
  builder.parser = expat.Get();
  builder.root = &root;
  XML_SetUserData(expat.Get(), &builder);
  XML_SetElementHandler(expat.Get(), &TTreeBuilder::OnStart, &TTreeBuilder::OnEnd);
  XML_SetCharacterDataHandler(expat.Get(), &TTreeBuilder::OnText);

  // XML_Parse takes an int length; larger buffers go in pieces.
  do {
    size_t piece = length < static_cast<size_t>(INT_MAX) ? length : static_cast<size_t>(INT_MAX);
    length -= piece;
    if (XML_Parse(expat.Get(), data, static_cast<int>(piece), length == 0) != XML_STATUS_OK) {
      const char* reason =
          builder.failure ? builder.failure : XML_ErrorString(XML_GetErrorCode(expat.Get()));
      root = TXmlElement();
      ThrowParseError(expat.Get(), reason ? reason : "unknown error");
    }
    data += piece;
  } while (length > 0);
}

}  // namespace

TGeneralXmlParser::TGeneralXmlParser() = default;
TGeneralXmlParser::~TGeneralXmlParser() = default;

void TGeneralXmlParser::Parse(const char* data, int length) {
  if (length < 0 || (!data && length > 0)) {
    root_ = TXmlElement();
    throw TVerboseException("XML parse error: invalid buffer", 0);
  }
  ParseBuffer(data ? data : "", static_cast<size_t>(length), root_);
}

void TGeneralXmlParser::Parse(const char* text) {
  if (!text) text = "";
  ParseBuffer(text, std::strlen(text), root_);
}

void TGeneralXmlParser::Parse(const std::string& text) {
  ParseBuffer(text.data(), text.size(), root_);
}

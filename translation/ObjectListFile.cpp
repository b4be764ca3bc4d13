#include "translation/ObjectListFile.h"

#include <cstdlib>

#include "base/TException.h"
#include "os/TFileMapper.h"
#include "xml/TGeneralXmlParser.h"

const char kUnknownObjectListElement[] = "Unknown element in default adapter file.";

void ReadObjectListFile(const std::string& path,
                        const std::function<void(const TXmlElement&)>& onObject) {
  TGeneralXmlParser parser;
  {
    TFileMapper mapper(path.c_str());
    parser.Parse(mapper.GetData(), static_cast<int>(mapper.GetLength()));
  }
  const TXmlElement& root = parser.GetRootElement();
  if (root.GetName() != "Objects") {
    throw TException("Unknown root element in default adapter file.");
  }
  for (const TXmlElement& object : root.GetChildren()) {
    if (object.GetName() != "Object") throw TException(kUnknownObjectListElement);
    onObject(object);
  }
}

void LoadOrAbort(TTracker* tracker, const char* prefix, const std::function<void()>& load) {
  try {
    load();
  } catch (const TException& e) {
    tracker->Fatal("%s: %s", prefix, e.GetText());
    std::abort();
  } catch (...) {
    tracker->Fatal("%s: Unknown exception", prefix);
    std::abort();
  }
}

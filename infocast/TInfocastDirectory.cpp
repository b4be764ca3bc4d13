#include "infocast/TInfocastDirectory.h"

TInfocastDirectory::TInfocastDirectory(const std::string& name, TTracker& tracker)
    : tracker_(tracker), name_(name) {}

TInfocastDirectory::~TInfocastDirectory() = default;

void TInfocastDirectory::AddSubdirectory(TInfocastDirectory* directory) {
  const std::string& name = directory->GetDirectoryName();
  if (!subdirectories_.emplace(name, directory).second) {
    tracker_.Warning("Subdirectory %s does already exists in directory %s", name.c_str(),
                     name_.c_str());
  }
}

void TInfocastDirectory::DelSubdirectory(const std::string& name) {
  if (subdirectories_.erase(name) == 0) {
    tracker_.Warning("Subdirectory %s does not exists in directory %s", name.c_str(),
                     name_.c_str());
  }
}

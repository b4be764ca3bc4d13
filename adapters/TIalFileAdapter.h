// Keeps information objects one per file in a directory: the file's name is the object's name
// and its bytes are the value. The base's map holds, for each object, the path of its file.
// A name belongs to the adapter when it begins with one of its prefixes; writes are accepted
// for the one storage type given at construction. Every file is replaced atomically, and no
// request can end the process: a name that is not a safe file name is refused with 201, a
// file that cannot be read or written with 207, the previous file and the map unchanged.
// Runs on the loop thread.
#pragma once

#include <string>
#include <vector>

#include "service/TInformationAdapter.h"

class TIalFileAdapter final : public TInformationAdapter {
 public:
  // directory ends in "/"; it need not exist yet (it is created at the first write).
  TIalFileAdapter(const std::string& directory, const std::vector<std::string>& prefixes,
                  TStorageType storageType);
  ~TIalFileAdapter() override;

  // IInformationAdapter
  // Enters every file of the directory whose name has a prefix; no callback. A directory that
  // cannot be opened leaves the adapter empty.
  void InitializeObjects() override;
  // The whole content of the object's file. Throws 207 when the file of a held object can no
  // longer be read.
  bool GetObject(const std::string& name, std::string& value) const override;
  // Copies the object's file into fileName, which must exist; throws 207 when it cannot be
  // read or written. Never waits on fileName (see WriteValueToFile of the base).
  bool GetObjectToFile(const std::string& name, const std::string& fileName) const override;
  bool IsStorageType(TStorageType storageType) const override;
  bool SupportsObject(const std::string& name) const override;
  // Throws 201 for a name that is not a safe file name, 207 when the file cannot be written.
  // An unchanged value writes nothing and reports nothing.
  void SetObject(const std::string& name, const std::string& value) override;
  // As SetObject with the content of fileName; 207 also when fileName is missing or empty.
  void SetObjectFromFile(const std::string& name, const std::string& fileName) override;
  void UnsetObject(const std::string& name) override;

  // Throws TUnknownObjectException when name cannot be used unchanged as the name of a file
  // inside the directory: it holds a "/" or a NUL byte, is "." or "..", is empty, or is
  // longer than NAME_MAX (255) bytes.
  static void CheckFileName(const std::string& name);

 private:
  // Where the bytes come from decides only the trace of a destination that cannot be read.
  enum class TSource { kValue, kFile };
  bool WriteFileIfNotEqual(const std::string& path, const char* data, size_t length,
                           TSource source) const;
  void EnsureDirectory() const;
  void Store(const std::string& name, const std::string& path, bool written);
  static bool ReadFile(const std::string& path, std::string& content);

  std::string directory_;
  std::vector<std::string> prefixes_;
  TStorageType storageType_;
};

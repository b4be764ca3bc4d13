// The page's files (web/page/), embedded into the program at build time by EmbedFiles.cmake,
// so that the program serves its page without reading anything from the file system.
#pragma once

#include <cstddef>

struct TPageFile {
  const char* path;         // "/index.html"
  const char* contentType;  // "text/html; charset=utf-8"
  const unsigned char* data;
  size_t size;
};

extern const TPageFile kPageFiles[];
extern const size_t kPageFileCount;

// Included first in every Windows test: the one POSIX call the shared test
// fixtures make that MinGW lacks.
#pragma once

#include <direct.h>
#include <io.h>

#include <cerrno>
#include <cstring>

// Replaces the trailing "XXXXXX" of `pattern` and creates that folder.
inline char* mkdtemp(char* pattern) {
  const std::size_t length = std::strlen(pattern);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::memcpy(pattern + length - 6, "XXXXXX", 6);
    if (_mktemp_s(pattern, length + 1) != 0) return nullptr;
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

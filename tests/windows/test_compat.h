// Included first in every Windows test: the one POSIX call the shared test
// fixtures make that MinGW lacks.
#pragma once

#include <direct.h>

#include <cerrno>
#include <cstring>
#include <random>

// Replaces the trailing "XXXXXX" of `pattern` with random letters and digits
// and creates that folder. (The runtime's _mktemp_s is no use here: it fills
// in a letter and the process id, so one process gets 26 names per pattern,
// fewer when an earlier process with the same id left folders behind.)
inline char* mkdtemp(char* pattern) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t length = std::strlen(pattern);
  if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
    errno = EINVAL;
    return nullptr;
  }
  static thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kChars) - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t i = length - 6; i < length; ++i) pattern[i] = kChars[pick(generator)];
    if (_mkdir(pattern) == 0) return pattern;
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

// Test helper: the whole text written so far to a temporary stream.
#ifndef ISMGR_TESTS_SUPPORT_STREAM_TEXT_H_
#define ISMGR_TESTS_SUPPORT_STREAM_TEXT_H_

#include <cstdio>
#include <string>

namespace ismgr::test {

// Flushes `f`, reads it from its start to its end and returns the bytes; the
// stream is left at its end.
inline std::string stream_text(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_STREAM_TEXT_H_

// The whole text written so far to a temporary stream (flushed, read from
// its start; the stream is left at its end). Test support only.
#ifndef ISMGR_TESTS_SUPPORT_STREAM_TEXT_H_
#define ISMGR_TESTS_SUPPORT_STREAM_TEXT_H_

#include <cstdio>
#include <string>

namespace ismgr::test {

inline std::string stream_text(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_STREAM_TEXT_H_

#include "tool/out.h"

#include <cstdarg>
#include <cstring>

#include "ismgr/runtime/char_class.h"

namespace ismgr::tool {

void FileSink::write(const char* data, size_t length) {
  if (length != 0) std::fwrite(data, 1, length, stream_);
}

std::string format_text(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(n));
  return text;
}

int Output::out(Sink& sink, const char* format, ...) {
  size_t start = held_ ? held_length_ : 0;
  size_t room = kBufferSize - start;  // includes the terminating NUL
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buffer_ + start, room, format, args);
  va_end(args);
  size_t added = 0;
  if (n > 0) added = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
  return emit(sink, start + added);
}

int Output::text(Sink& sink, const char* text) {
  return out(sink, "%s", text);
}

// Writes buffer_[0, length). In bare mode each line is filtered first; a
// comment that is not yet closed by its line feed keeps the whole text back.
int Output::emit(Sink& sink, size_t length) {
  if (!bare_) {
    held_ = false;
    held_length_ = 0;
    sink.write(buffer_, length);
    return static_cast<int>(length);
  }
  std::string result;
  result.reserve(length);
  size_t pos = 0;
  while (pos < length) {
    size_t end = pos;
    while (end < length && buffer_[end] != '\n') ++end;
    bool has_newline = end < length;
    // The first comment character outside quotes; a quote opens a stretch
    // that only the same quote character closes.
    char quote = 0;
    size_t comment = end;
    for (size_t i = pos; i < end; ++i) {
      char c = buffer_[i];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == comment_) {
        comment = i;
        break;
      }
    }
    if (comment == end) {
      result.append(buffer_ + pos, (has_newline ? end + 1 : end) - pos);
    } else if (!has_newline) {
      // The comment goes on in a later call: hold everything back.
      held_ = true;
      held_length_ = length;
      return static_cast<int>(length);
    } else {
      size_t keep = comment;
      while (keep > pos && is_space(static_cast<unsigned char>(buffer_[keep - 1]))) --keep;
      if (keep > pos) {
        result.append(buffer_ + pos, keep - pos);
        result.push_back('\n');
      }
    }
    pos = has_newline ? end + 1 : end;
  }
  held_ = false;
  held_length_ = 0;
  sink.write(result.data(), result.size());
  return static_cast<int>(result.size());
}

}  // namespace ismgr::tool

#include "tool/out.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ismgr/runtime/char_class.h"

namespace ismgr::tool {

bool output_complete(std::FILE* stream, const char* program) {
  errno = 0;
  if (std::fflush(stream) == 0 && !std::ferror(stream)) return true;
  const int error = errno;
  std::fprintf(stderr, "%s: cannot write the output: %s\n", program,
               error != 0 ? std::strerror(error) : "write error");
  return false;
}

void FileSink::write(const char* data, size_t length) {
  if (length != 0) std::fwrite(data, 1, length, stream_);
}

char* StringSink::room(size_t n) {
  if (storage_.size() - used_ < n) storage_.resize(std::max(storage_.size() * 2, used_ + n));
  return storage_.data() + used_;
}

void StringSink::write(const char* data, size_t length) {
  if (length == 0) return;
  std::memcpy(room(length), data, length);
  used_ += length;
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

namespace {

// A bounded writer over buffer[0, room - 1): what does not fit is counted but
// dropped, as vsnprintf does.
struct Appender {
  char* at;
  size_t room;  // characters that still fit (the terminating NUL excluded)
  size_t count = 0;

  void put(char c) {
    if (count < room) at[count] = c;
    ++count;
  }
  void put(const char* text, size_t n) {
    if (count < room) std::memcpy(at + count, text, n < room - count ? n : room - count);
    count += n;
  }
  // The digits are made with a constant divisor each (a division by a
  // variable base costs several times a multiplication).
  void put_decimal(unsigned long long v) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
      *--p = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    put(p, static_cast<size_t>(end - p));
  }
  void put_hex(unsigned long long v) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
      *--p = "0123456789abcdef"[v & 15];
      v >>= 4;
    } while (v != 0);
    put(p, static_cast<size_t>(end - p));
  }
  // Copies the text from `p` up to its next '%' or its end and returns where
  // it stopped. The stretches between conversions are short, so one pass
  // that copies as it looks costs less than a search and a copy call.
  const char* put_literal(const char* p) {
    char c;
    while ((c = *p) != '\0' && c != '%') {
      if (count < room) at[count] = c;
      ++count;
      ++p;
    }
    return p;
  }
  void put_signed(long long v) {
    if (v < 0) {
      put('-');
      put_decimal(0ull - static_cast<unsigned long long>(v));
    } else {
      put_decimal(static_cast<unsigned long long>(v));
    }
  }
};

// Formats the conversions the descriptions use (%d %i %u %x %c %s %%, with
// the length modifiers l, ll and z, and a precision on %s) without the
// stdio machinery, which costs more than the rest of a description. False
// at any other conversion; the caller then formats with vsnprintf.
bool format_simple(Appender& a, const char* format, va_list args) {
  for (const char* p = format; *p != '\0';) {
    if (*p != '%') {
      p = a.put_literal(p);
      continue;
    }
    ++p;
    size_t precision = SIZE_MAX;
    if (*p == '.') {
      ++p;
      if (*p < '0' || *p > '9') return false;
      precision = 0;
      while (*p >= '0' && *p <= '9') precision = precision * 10 + static_cast<size_t>(*p++ - '0');
    }
    int longs = 0;
    bool size = false;
    while (*p == 'l' && longs < 2) ++p, ++longs;
    if (longs == 0 && *p == 'z') ++p, size = true;
    const char conversion = *p++;
    if (precision != SIZE_MAX && conversion != 's') return false;
    switch (conversion) {
      case '%':
        if (longs != 0 || size) return false;
        a.put('%');
        break;
      case 'd':
      case 'i':
        if (size) return false;
        a.put_signed(longs == 2   ? va_arg(args, long long)
                     : longs == 1 ? va_arg(args, long)
                                  : va_arg(args, int));
        break;
      case 'u':
      case 'x': {
        const unsigned long long v = size         ? va_arg(args, size_t)
                                     : longs == 2 ? va_arg(args, unsigned long long)
                                     : longs == 1 ? va_arg(args, unsigned long)
                                                  : va_arg(args, unsigned);
        if (conversion == 'u') {
          a.put_decimal(v);
        } else {
          a.put_hex(v);
        }
        break;
      }
      case 'c':
        if (longs != 0 || size) return false;
        a.put(static_cast<char>(va_arg(args, int)));
        break;
      case 's': {
        if (longs != 0 || size) return false;
        const char* text = va_arg(args, const char*);
        if (text == nullptr) return false;
        size_t n = 0;
        if (precision == SIZE_MAX) {
          n = std::strlen(text);
        } else {
          while (n < precision && text[n] != '\0') ++n;
        }
        a.put(text, n);
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

char* Output::piece_at(Sink& sink, size_t* start) {
  *start = held_ ? held_length_ : 0;
  char* in_place = bare_ || held_ ? nullptr : sink.room(kBufferSize);
  return in_place != nullptr ? in_place : buffer_ + *start;
}

int Output::put_piece(Sink& sink, const char* at, size_t start, size_t added) {
  if (at != buffer_ + start) {  // formatted in the sink's storage
    sink.commit(added);
    return static_cast<int>(added);
  }
  return emit(sink, start + added);
}

int Output::out(Sink& sink, const char* format, ...) {
  size_t start = 0;
  char* at = piece_at(sink, &start);
  const size_t room = kBufferSize - start;  // includes the terminating NUL
  Appender a{at, room - 1};
  size_t n = 0;
  va_list args;
  va_start(args, format);
  const bool simple = format_simple(a, format, args);
  va_end(args);
  if (simple) {
    n = a.count;
  } else {
    // The arguments are walked again from the start (rather than from a
    // va_copy made up front, which every call would pay for).
    va_start(args, format);
    const int r = std::vsnprintf(at, room, format, args);
    va_end(args);
    n = r > 0 ? static_cast<size_t>(r) : 0;
  }
  return put_piece(sink, at, start, n < room ? n : room - 1);
}

int Output::text(Sink& sink, const char* text) {
  size_t start = 0;
  char* at = piece_at(sink, &start);
  Appender a{at, kBufferSize - start - 1};
  a.put(text, std::strlen(text));
  return put_piece(sink, at, start, a.count < a.room ? a.count : a.room);
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
  std::string& result = filtered_;
  result.clear();
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

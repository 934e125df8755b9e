// The output routine of qdesc: every line of a PAR or XDL description passes
// through Output::out, which formats into a 1024-byte buffer and, in bare
// mode, strips comments before the text reaches its sink.
#ifndef ISMGR_TOOL_OUT_H_
#define ISMGR_TOOL_OUT_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ismgr::tool {

// Where description or error text goes. Writing never fails the caller: a
// full disk shows up as a short file, as with any stdio stream.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void write(const char* data, size_t length) = 0;

  // A sink that keeps its text in memory can take text formatted in place:
  // room(n) gives space for n characters after the text (null when the sink
  // takes text through write() only), and commit(k) adds the first k of
  // them to the text. Saves a copy of each formatted piece.
  virtual char* room(size_t /*n*/) { return nullptr; }
  virtual void commit(size_t /*n*/) {}
};

// A sink over a C stdio stream (standard output, standard error or a created
// description file). The stream is not owned.
class FileSink : public Sink {
 public:
  explicit FileSink(std::FILE* stream) : stream_(stream) {}
  void write(const char* data, size_t length) override;
  std::FILE* stream() const { return stream_; }

 private:
  std::FILE* stream_;
};

// A sink that collects the text in memory. Its storage only grows, so a
// sink reused for many texts allocates (and clears new space) rarely.
class StringSink : public Sink {
 public:
  void write(const char* data, size_t length) override;
  char* room(size_t n) override;
  void commit(size_t n) override { used_ += n; }
  std::string_view text() const { return {storage_.data(), used_}; }
  void clear() { used_ = 0; }

 private:
  std::vector<char> storage_;  // the text, then space not yet used
  size_t used_ = 0;
};

// Formats printf-style into a string (used for error texts and tests).
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));

class Output {
 public:
  static constexpr size_t kBufferSize = 1024;

  // Bare output strips comments (everything from the comment character that
  // stands outside quotes to the end of its line, with the white space before
  // it; a line that held only a comment disappears).
  void set_bare(bool bare) { bare_ = bare; }
  bool bare() const { return bare_; }
  // ';' for PAR, '!' for XDL.
  void set_comment_char(char c) { comment_ = c; }
  char comment_char() const { return comment_; }

  // Formats the arguments after any held text and writes the result to
  // `sink` (filtered in bare mode). A piece longer than the room left in the
  // buffer is cut to fit. Returns the number of characters written, or, when
  // a comment is still open at the end of the text in bare mode, the length
  // of the text now held back for the next call.
  int out(Sink& sink, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Writes `text` literally (never as a format), like out(sink, "%s", text).
  int text(Sink& sink, const char* text);

  // True while text is held back waiting for the end of its comment.
  bool holding() const { return held_; }

 private:
  // Where the next piece is formatted: outside bare mode, with nothing held
  // back, straight into the storage of a sink that keeps its text in memory;
  // otherwise into buffer_ after the held text (*start: its length).
  char* piece_at(Sink& sink, size_t* start);
  // Hands on the `added` characters formatted at `at` (from piece_at).
  int put_piece(Sink& sink, const char* at, size_t start, size_t added);
  int emit(Sink& sink, size_t length);

  char buffer_[kBufferSize] = {};
  std::string filtered_;  // the text that passes the bare filter (kept for its capacity)
  size_t held_length_ = 0;
  bool held_ = false;
  bool bare_ = false;
  char comment_ = ';';
};

// Flushes `stream` and tells whether all that was written to it arrived.
// When not, says so on standard error ("PROGRAM: cannot write the output:
// REASON"): a command whose output was lost (a full disk, a closed stream)
// must not report success.
bool output_complete(std::FILE* stream, const char* program);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_OUT_H_

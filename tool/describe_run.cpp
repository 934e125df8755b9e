#include "tool/describe_run.h"

#include <new>

#include "ismgr/runtime/status.h"
#include "tool/par_writer.h"
#include "tool/report.h"
#include "tool/xdl_writer.h"

namespace ismgr::tool {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f != nullptr) std::fclose(f);
  }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

enum class Format { kPar, kXdl };

// Writes what `text` collected to `stream` in one piece.
void put_text(StringSink& text, std::FILE* stream) {
  if (stream != nullptr && !text.text().empty()) {
    std::fwrite(text.text().data(), 1, text.text().size(), stream);
  }
  text.clear();
}

// The error sink of one description: the description collected so far, and
// anything the stream holds, go out before the error text, so that both keep
// their order when they share a terminal or a file.
class ErrorsAfterText : public Sink {
 public:
  ErrorsAfterText(Sink& err, StringSink& text, std::FILE* const& stream)
      : err_(err), text_(text), stream_(stream) {}
  void write(const char* data, size_t length) override {
    put_text(text_, stream_);
    if (stream_ != nullptr) std::fflush(stream_);
    err_.write(data, length);
  }

 private:
  Sink& err_;
  StringSink& text_;
  std::FILE* const& stream_;
};

// Puts the context's error sink back when the description ends.
class ErrorSinkSwap {
 public:
  ErrorSinkSwap(DescribeContext& ctx, Sink* err) : ctx_(ctx), saved_(ctx.err) { ctx.err = err; }
  ~ErrorSinkSwap() { ctx_.err = saved_; }

 private:
  DescribeContext& ctx_;
  Sink* saved_;
};

int describe(DescribeContext& ctx, FileOpener& opener, const std::string& name, std::FILE* stream,
             Format format) {
  ctx.output.set_comment_char(format == Format::kPar ? ';' : '!');
  ctx.in_progress_sort = false;
  StringSink no_errors;
  // The description is collected and written in one piece; whatever was
  // collected before a failure still goes out before the error text.
  StringSink& text = ctx.described;
  text.clear();
  ErrorsAfterText ordered(ctx.err != nullptr ? *ctx.err : no_errors, text, stream);
  ErrorSinkSwap swap(ctx, &ordered);
  Sink& err = ordered;
  // Declared before the channel so that the channel is closed first.
  // The output file of -g is made before the open; a description that fails,
  // or does not reach the disk whole, takes it away again.
  OwnedFile created;
  std::string made;  // the output file, once this description has made it
  std::unique_ptr<OpenedFile> file;
  try {
    if (stream == nullptr) {
      const std::string out_name = output_file_name(name, format == Format::kXdl);
      created.reset(std::fopen(out_name.c_str(), "w"));
      if (!created) report_tool_error(err, kToolCantCreate, out_name.c_str());
      made = out_name;
      stream = created.get();
    }
    file = opener.open(ctx, name);
    int result = 0;
    if (format == Format::kPar) {
      result = write_par_description(ctx, file->view(), file->io(), name, text);
    } else {
      write_xdl_description(ctx, file->view(), file->io(), name, text);
    }
    put_text(text, stream);
    if (created) {
      const bool written = std::fflush(created.get()) == 0 && !std::ferror(created.get());
      stream = nullptr;  // closed below, whatever comes
      if (std::fclose(created.release()) != 0 || !written) {
        report_tool_error(err, kToolCantCreate, made.c_str());
      }
    }
    file.reset();
    return result;
  } catch (const DescribeAbort&) {
    put_text(text, stream);
  } catch (const StatusError& e) {
    try {
      report_status(err, e.code(), name.c_str());
    } catch (const DescribeAbort&) {
    }
  } catch (const std::bad_alloc&) {
    try {
      report_status(err, kStatusNoMemory, name.c_str());
    } catch (const DescribeAbort&) {
    }
  }
  file.reset();
  created.reset();
  if (!made.empty()) std::remove(made.c_str());
  return -1;
}

}  // namespace

int write_par(DescribeContext& ctx, FileOpener& opener, const std::string& name,
              std::FILE* stream) {
  return describe(ctx, opener, name, stream, Format::kPar);
}

int write_xdl(DescribeContext& ctx, FileOpener& opener, const std::string& name,
              std::FILE* stream) {
  return describe(ctx, opener, name, stream, Format::kXdl);
}

int run_qdesc(int argc, const char* const* argv, FileOpener& opener, std::FILE* out, std::FILE* err,
              std::function<int64_t()> clock) {
  FileSink out_sink(out);
  FileSink err_sink(err);
  CommandLine line = scan_command_line(argc, argv, out_sink);
  if (line.usage) {
    std::string usage = usage_text(argc > 0 && argv != nullptr ? argv[0] : nullptr);
    err_sink.write(usage.data(), usage.size());
    return 1;
  }
  DescribeContext ctx;
  ctx.options = line.options;
  ctx.output.set_bare(line.options.bare);
  ctx.err = &err_sink;
  ctx.clock = std::move(clock);
  std::FILE* stream = line.options.generate ? nullptr : out;
  for (const std::string& name : line.files) {
    int rc = line.options.xdl ? write_xdl(ctx, opener, name, stream)
                              : write_par(ctx, opener, name, stream);
    if (rc != 0) return 1;
  }
  return 0;
}

}  // namespace ismgr::tool

#include "tool/report.h"

#include "ismgr/runtime/status.h"

namespace ismgr::tool {

namespace {

void put(Sink& err, const std::string& text) {
  err.write(text.data(), text.size());
}

}  // namespace

void report_status(Sink& err, int status, const char* name) {
  put(err, format_text("\n%%QDESC-E-%02d: ", status));
  const char* message = status_message(status);
  if (message != nullptr) {
    put(err, format_text("%s\n", message));
  } else {
    put(err, "Unknown error code\n");
  }
  put(err, format_text("%%QDESC-I-01: File specified was %s\n", name ? name : ""));
  throw DescribeAbort();
}

void report_tool_error(Sink& err, int code, const char* text, long number) {
  if (text == nullptr) text = "";
  put(err, format_text("\n%%QDESC-E-%02d: ", code));
  switch (code) {
    case kToolCantCreate:
      put(err, format_text("Can't create '%s'\n", text));
      break;
    case kToolNotIsamIndex:
      put(err, format_text("'%s' not an ISAM index file\n", text));
      break;
    case kToolNoMemory:
      put(err, format_text("Insufficient memory to allocate %ld bytes\n", number));
      break;
    case kToolCannotOpen:
      put(err, format_text("Cannot open '%s'\n", text));
      break;
    case kToolBadKey:
      put(err, format_text("Bad key #%ld definition\n", number));
      break;
    default:
      put(err, format_text("Unknown error code %d\n", code));
      break;
  }
  throw DescribeAbort();
}

}  // namespace ismgr::tool

// File creation, the PAR and XDL descriptions of an open file, and the
// detail hook of the public interface. The descriptions are the writers that
// qdesc runs (tool/par_writer.h, tool/xdl_writer.h), here over a channel the
// host has opened.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <string_view>

#include "ismgr/api/api_internal.h"
#include "ismgr/describe/open_create.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/runtime/keyword.h"
#include "tool/control_view.h"
#include "tool/describe_context.h"
#include "tool/par_writer.h"
#include "tool/xdl_writer.h"

using namespace ismgr::api;

namespace {

// Writes the description of `ch` to `sink`; returns 0 or a status code.
int32_t describe_to(ismgr_channel* ch, int format, int flags, const char* name,
                    ismgr::tool::Sink& sink) noexcept {
  const ismgr::channel* c = inner(ch);
  if (c == nullptr || c->handle == nullptr || (c->kind & ismgr::kChannelIsam) == 0 ||
      (format != ISMGR_FORMAT_PAR && format != ISMGR_FORMAT_XDL)) {
    return ismgr::kStatusBadFileControl;
  }
  const int32_t code = guarded<int32_t>(-1, [&] {
    const auto* fc = static_cast<const ismgr::IsamFileControl*>(c->handle);
    ismgr::tool::DescribeContext ctx;
    ismgr::tool::StringSink errors;
    ctx.err = &errors;
    ctx.options.bare = (flags & ISMGR_DESCRIBE_BARE) != 0;
    ctx.options.change_tracking_key = (flags & ISMGR_DESCRIBE_CHANGE_TRACKING) != 0;
    ctx.output.set_bare(ctx.options.bare);
    ismgr::tool::FileView view = ismgr::tool::view_of_control(*fc);
    ismgr::tool::ControlIo io(fc);
    const std::string shown = name != nullptr ? name : c->file_name;
    if (format == ISMGR_FORMAT_PAR) {
      ctx.output.set_comment_char(';');
      // -1 only says the file text did not fit its file line: the
      // description is complete.
      ismgr::tool::write_par_description(ctx, view, io, shown, sink);
    } else {
      ctx.output.set_comment_char('!');
      ismgr::tool::write_xdl_description(ctx, view, io, shown, sink);
    }
    return 0;
  });
  return code == 0 ? 0 : ismgr_last_status();
}

std::atomic<ismgr_detail_hook> host_hook{nullptr};
std::atomic<void*> host_user{nullptr};

void pass_detail(void*, int code, const char* text, int64_t value) {
  ismgr_detail_hook hook = host_hook.load();
  if (hook == nullptr) return;
  const char* value_text =
      ismgr::detail_value_is_text(code) ? ismgr::detail_value_text(value) : nullptr;
  hook(host_user.load(), code, text, value, value_text);
}

}  // namespace

extern "C" {

int32_t ismgr_create(const char* name, const char* description, int replace) {
  ismgr::ismgr_control* ctl = ismgr::current_context();
  if (ctl == nullptr) return ismgr::kStatusNoMemory;
  uint32_t mode = ismgr::kModeOutput | ismgr::kModeIsam;
  if (replace != 0) mode |= ismgr::IM_SPRCED;
  // When the open or the close that follows a successful creation fails,
  // the pair the creation made is deleted again.
  ismgr::CreationRecord made;
  ismgr_channel* ch =
      ismgr_open_with_status(outer(ctl), name, mode, 0, 0, nullptr, description, nullptr);
  if (ch == nullptr) {
    made.remove_files();
    const int32_t code = ismgr_last_status();
    return code != 0 ? code : ismgr::kStatusCannotCreate;
  }
  int32_t code = 0;
  const int64_t closed = ismgr_close(ch, 0, &code);
  if (closed < 0 || code != 0) {
    // A failed close leaves the channel open: release it regardless.
    if (closed < 0) ismgr_close(ch, ISMGR_CLOSE_PURGE, nullptr);
    made.remove_files();
    if (code == 0) code = ismgr::kStatusCannotCreate;
  }
  return code;
}

int32_t ismgr_describe_file(ismgr_channel* ch, int format, int flags, const char* name,
                            FILE* stream) {
  if (stream == nullptr) return ismgr::kStatusMissingParameter;
  ismgr::tool::FileSink sink(stream);
  return describe_to(ch, format, flags, name, sink);
}

int32_t ismgr_describe(ismgr_channel* ch, int format, int flags, const char* name, char* buffer,
                       size_t size, size_t* length) {
  ismgr::tool::StringSink sink;
  const int32_t code = describe_to(ch, format, flags, name, sink);
  const std::string_view text = sink.text();
  if (length != nullptr) *length = text.size();
  if (buffer != nullptr && size > 0) {
    const size_t n = std::min(text.size(), size - 1);
    if (n != 0) std::memcpy(buffer, text.data(), n);  // an empty text may have no storage
    buffer[n] = '\0';
  }
  return code;
}

void ismgr_set_detail_hook(ismgr_detail_hook hook, void* user) {
  host_user.store(user);
  host_hook.store(hook);
  ismgr::set_detail_hook(hook != nullptr ? pass_detail : nullptr);
}

}  // extern "C"

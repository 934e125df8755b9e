#include "tool/open_description.h"

#include "ismgr/channel/channel.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/status.h"
#include "tool/control_view.h"
#include "tool/report.h"

namespace ismgr::tool {

namespace {

// An open channel; closing it (mode 0) releases the file.
struct ChannelGuard {
  channel* ch = nullptr;
  ChannelGuard() = default;
  explicit ChannelGuard(channel* c) : ch(c) {}
  ChannelGuard(const ChannelGuard&) = delete;
  ChannelGuard& operator=(const ChannelGuard&) = delete;
  ~ChannelGuard() { close(); }
  void close() {
    if (ch != nullptr) channel_close(ch, 0, nullptr);
    ch = nullptr;
  }
  channel* release() {
    channel* c = ch;
    ch = nullptr;
    return c;
  }
  IsamFileControl* control() const {
    return ch != nullptr ? static_cast<IsamFileControl*>(ch->handle) : nullptr;
  }
};

class ChannelFile : public OpenedFile {
 public:
  explicit ChannelFile(channel* ch)
      : guard_(ch), view_(view_of_control(*guard_.control())), io_(guard_.control()) {}
  const FileView& view() const override { return view_; }
  DescribeIo& io() override { return io_; }

 private:
  ChannelGuard guard_;
  FileView view_;
  ControlIo io_;
};

int current_code() {
  return default_status()->code;
}

}  // namespace

channel* open_for_description(ismgr_control* ctl, const std::string& name,
                              DescribeOpenFailure* failure) {
  // The full name, for the messages: the expansion of the ISAM open itself,
  // with the per-open flags this open passes (none that change the name).
  // Both opens below leave other names behind (the data file's, after the
  // retry), so the messages name this one.
  std::string resolved;
  int code = isam_expand_name(ctl, name, kOpenFlagNetworkOk, &resolved);
  if (code != 0) {
    failure->code = code;
    failure->name = ctl != nullptr && ctl->current_name != nullptr && *ctl->current_name
                        ? ctl->current_name
                        : name;
    return nullptr;
  }

  // Flag 0x40: accept a file that requires network encryption although its
  // data file lies on a share. Without ENABLE_NOLOCK the open would ignore
  // IM_NOLOCK.
  default_status()->open_flags = kOpenFlagNetworkOk;
  static const bool nolock_set = platform::put_env("ENABLE_NOLOCK=1");
  (void)nolock_set;
  failure->name = resolved;
  channel* ch = channel_open(name.c_str(), kDescribeMode, 0, 0, nullptr, nullptr);
  if (ch != nullptr) return ch;
  failure->code = current_code();
  if (failure->code == kStatusIncompatible) return nullptr;
  if (failure->code == kStatusSortWorkFile) failure->in_progress_sort = true;
  // Retry through the data file alone: it holds the header as created.
  default_status()->open_flags = kOpenFlagDataFileOnly;
  ch = channel_open(name.c_str(), kDescribeMode, 0, 0, nullptr, nullptr);
  failure->code = current_code();
  return ch;
}

std::unique_ptr<OpenedFile> ChannelOpener::open(DescribeContext& ctx, const std::string& name) {
  StringSink no_errors;
  Sink& err = ctx.err != nullptr ? *ctx.err : no_errors;
  DescribeOpenFailure failure;
  ChannelGuard main(open_for_description(ctl_, name, &failure));
  if (failure.in_progress_sort) ctx.in_progress_sort = true;
  if (main.ch == nullptr) report_status(err, failure.code, failure.name.c_str());
  const std::string& resolved = failure.name;
  if (!ctx.options.temp_key) return std::make_unique<ChannelFile>(main.release());

  ChannelGuard temp(
      channel_open(ctx.options.temp_name.c_str(), kDescribeTempMode, 0, 0, nullptr, nullptr));
  if (temp.ch == nullptr) report_status(err, current_code(), resolved.c_str());
  IsamFileControl* main_fc = main.control();
  IsamFileControl* temp_fc = temp.control();
  // The temporary index takes over the data file; closing the main channel
  // then releases only the main index.
  if (!isam_move_data_handle(main_fc, temp_fc))
    report_status(err, kStatusBadFileControl, resolved.c_str());
  ctx.main_file.created = main_fc->header.created;
  ctx.main_file.reindexed = main_fc->header.reindexed;
  ctx.main_file.cleared = main_fc->header.cleared;
  ctx.main_file.update_count = main_fc->counters.update_count;
  ctx.main_file.key_count = main_fc->header.key_count;
  main.close();
  return std::make_unique<ChannelFile>(temp.release());
}

}  // namespace ismgr::tool

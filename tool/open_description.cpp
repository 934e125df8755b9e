#include "tool/open_description.h"

#include "ismgr/fileio/names.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/channel.h"
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

std::unique_ptr<OpenedFile> ChannelOpener::open(DescribeContext& ctx, const std::string& name) {
  StringSink no_errors;
  Sink& err = ctx.err != nullptr ? *ctx.err : no_errors;

  // The full name, for the messages.
  const ismgr_config* config = process_config();
  NameRequest request;
  request.default_spec = config->default_ext_isam != nullptr ? config->default_ext_isam : ".ISM";
  request.type = kNameDefault;
  request.search = true;
  std::string resolved;
  int code = expand_file_name(name, request, &resolved);
  if (code != 0) {
    const char* current = ctl_ != nullptr && ctl_->current_name != nullptr && *ctl_->current_name
                              ? ctl_->current_name
                              : name.c_str();
    report_status(err, code, current);
  }

  // Flag 0x40: accept a file that requires network encryption although its
  // data file lies on a share. Without ENABLE_NOLOCK the open would ignore
  // IM_NOLOCK.
  default_status()->open_flags = kOpenFlagNetworkOk;
  platform::put_env("ENABLE_NOLOCK=1");
  ChannelGuard main(channel_open(name.c_str(), kDescribeMode, 0, 0, nullptr, nullptr));
  if (main.ch == nullptr) {
    code = current_code();
    if (code == kStatusIncompatible) report_status(err, code, resolved.c_str());
    if (code == kStatusSortWorkFile) ctx.in_progress_sort = true;
    // Retry through the data file alone: it holds the header as created.
    default_status()->open_flags = kOpenFlagDataFileOnly;
    main.ch = channel_open(name.c_str(), kDescribeMode, 0, 0, nullptr, nullptr);
    if (main.ch == nullptr) report_status(err, current_code(), resolved.c_str());
  }
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

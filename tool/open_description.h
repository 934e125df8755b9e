// Opening an ISAM file for description: read-only, without record locking,
// falling back to the data file's copy of the header when the index cannot
// be opened, and with -t replacing the main file by its temporary key index.
#ifndef ISMGR_TOOL_OPEN_DESCRIPTION_H_
#define ISMGR_TOOL_OPEN_DESCRIPTION_H_

#include <string>

#include "ismgr/channel/channel.h"
#include "ismgr/runtime/context.h"
#include "tool/describe_run.h"

namespace ismgr::tool {

// Open mode of a description: input, ISAM file, IM_NOLOCK.
constexpr uint32_t kDescribeMode = 0x1000042;
// The same for the temporary key index (IM_TEMP added).
constexpr uint32_t kDescribeTempMode = 0x1000442;

// Why open_for_description failed: the status and the file to name in the
// message (the name the user gave, as the open expands it, or the name the
// expansion itself stopped at).
struct DescribeOpenFailure {
  int code = 0;
  std::string name;
  bool in_progress_sort = false;  // the first open met a sort in progress
};

// The open of qdesc and qinfo: read-only without record locking; when that
// fails for any reason but an incompatible file, once more through the data
// file alone. Returns the channel, or null with *failure filled; failure->name
// is the expanded name in either case (once the expansion succeeded).
channel* open_for_description(ismgr_control* ctl, const std::string& name,
                              DescribeOpenFailure* failure);

// Opens files through the channel layer of the runtime context `ctl`.
class ChannelOpener : public FileOpener {
 public:
  explicit ChannelOpener(ismgr_control* ctl) : ctl_(ctl) {}
  // open_for_description: reports through the status reporter on failure.
  std::unique_ptr<OpenedFile> open(DescribeContext& ctx, const std::string& name) override;

 private:
  ismgr_control* ctl_;
};

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_OPEN_DESCRIPTION_H_

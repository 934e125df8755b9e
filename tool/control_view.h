// The description's view of an open file's control block, and the file I/O
// of a description over the block's handles.
#ifndef ISMGR_TOOL_CONTROL_VIEW_H_
#define ISMGR_TOOL_CONTROL_VIEW_H_

#include "ismgr/isam/file_control.h"
#include "tool/file_view.h"

namespace ismgr::tool {

// Copies what the writers read out of `fc`; `fc` is not changed.
FileView view_of_control(const IsamFileControl& fc);

// Reads the data file and the sizes of both files through the handles of an
// open control block. The handles stay owned by the block.
class ControlIo : public DescribeIo {
 public:
  explicit ControlIo(const IsamFileControl* fc) : fc_(fc) {}
  bool read_data(uint64_t offset, void* buffer, uint32_t count) override;
  bool index_file_size(int64_t* size) override;
  bool data_file_size(int64_t* size) override;

 private:
  const IsamFileControl* fc_;
};

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_CONTROL_VIEW_H_

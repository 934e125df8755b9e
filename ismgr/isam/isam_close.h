// Close, flush and release of an open ISAM file: the counterparts of the
// ISAM open in the operations table of an ISAM channel (slots 3, 18, 16).
//
// Close and flush write the dynamic header back when it changed while the
// file was cached; the close then releases the locks, the cache, both
// handles and the control block. A close whose write-back fails leaves the
// control block open and usable, so the caller can close again.
#ifndef ISMGR_ISAM_ISAM_CLOSE_H_
#define ISMGR_ISAM_ISAM_CLOSE_H_

#include <cstdint>

#include "ismgr/isam/file_control.h"

namespace ismgr {

// Results: 0 on success, -1 on an I/O failure (status 25 in the status
// block), -2 when the control block is null or not valid.
int32_t isam_close(IsamFileControl* fc, uint32_t close_mode);
int32_t isam_flush(IsamFileControl* fc);
// Releases every record lock of the file (slot 16).
int32_t isam_release(IsamFileControl* fc);

// Writes the dynamic header in its on-disk form (without the change-tracking
// area) at dynamic_offset of the header file: through the block cache when
// the file has one (always reaching the disk, also for caches that keep the
// end of file themselves), else directly. 0, or -1 on a short write.
int write_dynamic_header(IsamFileControl* fc);

}  // namespace ismgr

#endif  // ISMGR_ISAM_ISAM_CLOSE_H_

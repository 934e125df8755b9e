// The ISAM driver of the channel layer: the ISAM open and the handlers it
// places in a channel's operations table (close in slot 3, release of all
// record locks in slot 16, flush in slot 18). The record operations, the
// information queries and the selections are not part of this driver yet:
// their slots answer "not supported" (status 63, -1).
#ifndef ISMGR_ISAM_ISAM_DRIVER_H_
#define ISMGR_ISAM_ISAM_DRIVER_H_

#include "ismgr/runtime/channel_driver.h"

namespace ismgr {

// The handlers, as the operations table calls them (the driver handle is
// the IsamFileControl).
int64_t isam_slot_close(void* handle, ChannelCall& call);
int64_t isam_slot_release(void* handle, ChannelCall& call);
int64_t isam_slot_flush(void* handle, ChannelCall& call);

// Adds a handler to the ISAM driver's table (the information queries
// register theirs here). Returns the handler that was in the slot.
ChannelHandler set_isam_slot(int slot, ChannelHandler handler);

}  // namespace ismgr

#endif  // ISMGR_ISAM_ISAM_DRIVER_H_

// Channels: the caller's handle on one open file.
//
// The channel open checks the request, picks the driver from the open mode
// (ISAM, or the sequential and relative file driver), lets the driver open
// the file and fills the channel's 34-slot operations table with the
// driver's handlers. Every later operation goes through that table, so a
// caller never asks which kind of file it holds. The channel close calls the
// driver's close (slot 3) and frees the channel.
#ifndef ISMGR_CHANNEL_CHANNEL_H_
#define ISMGR_CHANNEL_CHANNEL_H_

#include <cstdint>

#include "ismgr/runtime/channel_driver.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

// Open mode bits the channel layer reads.
enum ChannelModeBits : uint32_t {
  kModeUpdate = 0x1,
  kModeInput = 0x2,
  kModeOutput = 0x4,
  kModeAppend = 0x8,
  kModeIsam = 0x40,
  kModeRelative = 0x80,
  kModeSequential = 0x100,
  kModeBlock = 0x200,
  kModeNoLock = 0x1000000,
};

// Close mode bits.
enum CloseModeBits : uint32_t {
  kClosePurge = 0x1,  // report success whatever the driver's close says
  kCloseFork = 0x2,
  kCloseNoFcbRelease = 0x4,  // keep the caller's status block attached
};

// Channel kind bits.
enum ChannelKind : uint32_t {
  kChannelIsam = 0x2,
  kChannelSequential = 0x4,
};

// The channel keeps the whole expanded name (the current-name buffer's
// size), so that the "filename" answer is never a cut name.
constexpr size_t kChannelNameSize = kCurrentNameSize;

struct channel {
  void* handle = nullptr;                          // the driver's per-file record; null when closed
  ChannelHandler ops[kChannelSlotCount + 1] = {};  // [1..34]
  ismgr_status* status = nullptr;
  void* shared_list = nullptr;
  ismgr_control* control = nullptr;
  void* selections = nullptr;  // record selections set up on this channel
  char file_name[kChannelNameSize] = {};
  uint32_t kind = 0;
  const ChannelDriver* driver = nullptr;
};

// Opens `name` with `mode`. `arg1`, `arg2` and `driver_string` go to the
// sequential and relative driver; `description` (only for creating an ISAM
// file) to the ISAM open. `status` may be null (the default block is used).
// Returns the channel, or null; the status code is in the status block in
// both cases.
channel* channel_open(ismgr_control* control, const char* name, uint32_t mode, int64_t arg1,
                      int64_t arg2, const char* driver_string, const char* description,
                      ismgr_status* status);

// The tool form: the default status block and the current thread's context;
// null when the thread has no context.
channel* channel_open(const char* name, uint32_t mode, int64_t arg1, int64_t arg2,
                      const char* driver_string, const char* description);

// Closes the channel through its driver's close and frees it. The resulting
// status code goes to `*status_code` (may be null). Returns the close
// handler's result, or 0 with close mode kClosePurge; -1 for a null channel.
// A close handler that fails without kClosePurge leaves the channel and its
// driver handle open, so the caller can close again.
int64_t channel_close(channel* ch, uint32_t close_mode, int32_t* status_code);

// File information by keyword: "filename" is answered from the channel;
// every other keyword goes to slot 12. Returns 0, the handler's result, or
// -2 for a null channel.
int64_t channel_file_info(channel* ch, int32_t* number, char* text, int32_t capacity,
                          const char* keyword, int32_t key, int32_t segment);

// Calls slot `slot` (1 to 34) of an open channel with the channel's driver
// handle and control. A closed or null channel, or a slot out of range,
// gives status 63 and -1.
int64_t channel_call(channel* ch, int slot, ChannelCall& call);

}  // namespace ismgr

#endif  // ISMGR_CHANNEL_CHANNEL_H_

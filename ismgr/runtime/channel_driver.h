// The contract between the channel layer and the drivers behind it.
//
// A channel reaches its driver only through a ChannelDriver: the driver's
// open and a table of 34 numbered operation slots. Every handler takes the
// driver handle first and the rest of the call in one ChannelCall; it stores
// its status code in the context's status block and returns 0 (or a count or
// a position) on success and -1 on failure. A null slot is "not supported":
// the channel layer answers it with status 63 and -1.
//
// The channel layer includes no driver header: the ISAM driver defines
// isam_channel_driver() and the channel layer calls it by that name.
#ifndef ISMGR_RUNTIME_CHANNEL_DRIVER_H_
#define ISMGR_RUNTIME_CHANNEL_DRIVER_H_

#include <cstdint>

#include "ismgr/runtime/context.h"

namespace ismgr {

constexpr int kChannelSlotCount = 34;

// The operation slots, numbered 1 to 34.
enum ChannelSlot : int {
  kSlotRead = 1,            // read or find by key, RFA or record number
  kSlotReadNext = 2,        // read or find the next or previous record
  kSlotClose = 3,           // close the file (call.mode: close mode)
  kSlotStore = 4,           // store a new record
  kSlotWrite = 5,           // write a record
  kSlotUpdate = 6,          // update the current record
  kSlotWriteNext = 7,       // write the next record
  kSlotAccept = 8,          // read one character
  kSlotDelete = 9,          // delete the current record
  kSlotParamsText = 10,     // file parameters as fixed-width text
  kSlotParamsRecord = 11,   // file parameters as a record
  kSlotFileInfo = 12,       // file information by keyword
  kSlotKeyText = 13,        // key parameters as fixed-width text
  kSlotKeyRecord = 14,      // key parameters as a record
  kSlotUnlock = 15,         // unlock the current record
  kSlotFreeLocks = 16,      // free all record locks
  kSlotEmpty = 17,          // never called
  kSlotFlush = 18,          // flush buffers to disk
  kSlotGetRfa = 19,         // RFA of the current record
  kSlotPosRfa = 20,         // position to an RFA
  kSlotCurrentKey = 21,     // current key of reference
  kSlotSetKey = 22,         // set the key of reference
  kSlotPutString = 23,      // write a string to a device
  kSlotKeyByName = 24,      // key number of a key name
  kSlotKeyByPosition = 25,  // key number of a key position and length
  kSlotForms = 26,          // forms control
  kSlotUnused27 = 27,
  kSlotSelectSetup = 28,  // set up a record selection
  kSlotSelect29 = 29,
  kSlotSelectCount = 30,
  kSlotSelectReset = 31,
  kSlotSelect32 = 32,
  kSlotUnused33 = 33,
  kSlotSelectIsam = 34,
};

// The arguments of one slot call beyond the driver handle. Each slot reads
// the members it needs; the rest stay zero.
struct ChannelCall {
  uint32_t mode = 0;          // close mode, read mode, ...
  int32_t* number = nullptr;  // a number result (file information)
  char* text = nullptr;       // a text result or a record buffer
  int32_t capacity = 0;       // bytes at `text`
  const char* keyword = nullptr;
  int32_t key = 0;      // key number
  int32_t segment = 0;  // segment number
  int64_t value = 0;    // a further value passed through
  ismgr_control* control = nullptr;
};

using ChannelHandler = int64_t (*)(void* handle, ChannelCall& call);

// Opens a file for a channel: returns the driver handle, or null with the
// status code in the context's status block. `driver_string`, `arg1` and
// `arg2` are passed through from the channel open.
using ChannelOpenFn = void* (*)(ismgr_control* control, const char* name, uint32_t mode,
                                const char* description, const char* driver_string, int64_t arg1,
                                int64_t arg2);

// The OS handles of an open file for the audit "open" line of a successful
// open ("(%d:%d) = open(...)"); false when the driver has none to show.
using ChannelHandlesFn = bool (*)(void* handle, int64_t* index_handle, int64_t* data_handle);

struct ChannelDriver {
  const char* name;
  ChannelOpenFn open;
  ChannelHandlesFn file_handles;                // may be null
  ChannelHandler slots[kChannelSlotCount + 1];  // [1..34]; [0] unused; null: not supported
};

enum class ChannelDriverKind { kIsam, kSequential };

// Puts `driver` in place of the built-in driver of `kind` (null restores
// the built-in one); returns the driver that was in place. For tests.
const ChannelDriver* set_channel_driver_for_test(ChannelDriverKind kind,
                                                 const ChannelDriver* driver);

// The common "not supported" handler: status 63 in the context's status
// block, result -1.
int64_t channel_not_supported(void* handle, ChannelCall& call);

// The ISAM driver's table; defined by the ISAM driver.
const ChannelDriver& isam_channel_driver();

// The sequential and relative file driver's table: its open fails with
// status 60 ("Bad file org on open") and every slot is "not supported",
// because that driver is not part of this system.
const ChannelDriver& sequential_channel_driver();

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_CHANNEL_DRIVER_H_

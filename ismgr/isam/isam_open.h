// The ISAM open: turns a file name, an open mode and (for a new file) a
// description into an IsamFileControl. It derives the data file's name,
// opens index and data file with the right access and sharing, reads and
// checks the header page and the dynamic header, lays out the control block,
// decides how the file is locked and cached, and returns the control block.
// The close (isam_close.h) releases everything it acquired.
#ifndef ISMGR_ISAM_ISAM_OPEN_H_
#define ISMGR_ISAM_ISAM_OPEN_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/open_creation.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

// Open mode bits the ISAM open reads.
enum IsamOpenMode : uint32_t {
  IM_UPDATE = 0x01,
  IM_INPUT = 0x02,
  IM_OUTPUT = 0x04,
  IM_APPEND = 0x08,
  IM_EXRW = 0x10,
  IM_EXW = 0x20,
  IM_ISAM = 0x40,
  IM_TEMP = 0x400,
  IM_SEQUENTIAL = 0x1000,
  IM_WAIT = 0x10000,
  IM_CACHE = 0x20000,
  IM_SPRCED = 0x200000,
  IM_NOLOCK = 0x1000000,
};

// Per-open flags of the status block read (and cleared) by the ISAM open.
enum IsamOpenFlag : int32_t {
  kOpenFlagDataCache = 0x01,     // data caching for empty update files
  kOpenFlagDataFileOnly = 0x10,  // open through the data file alone
  kOpenFlagExpansion = 0x20,     // the name expansion leaves the file name's case
  kOpenFlagNetworkOk = 0x40,     // accept network-encryption files on a share
  kOpenFlagKeep40000 = 0x80,     // when clear, state 0x40000 is set
};

// A state bit of this layer beyond the open's: the data handle was moved to
// a temporary index (isam_move_data_handle), so the file is valid with its
// index handle alone and its close releases that handle and the block.
constexpr uint32_t kStateDataHandleMoved = 0x01000000;

// Runtime options the open and close read.
constexpr int kOptionWriteThrough = 36;  // write-through for shared update opens
constexpr int kOptionNoFlushOnClose = 44;

// Opens the file. Returns the control block, or null with the status code
// in the context's status block and, for name-related failures, the
// offending name in the context's current-name buffer. On failure errno and
// the thread's last OS error hold the error of the system call that failed
// (both 0 when the failure was not the system's).
IsamFileControl* isam_open(ismgr_control* ctl, const char* name, uint32_t mode,
                           const char* description);

// Frees a control block that no channel owns, closing its handles and cache
// without writing anything (the open's failure path; tests).
void isam_discard(IsamFileControl* fc);

// The expansion of an ISAM file name the open performs: logical names, case
// rules and the default extension of the configuration (".ISM"); `flags`
// are the per-open flags (the expansion flag leaves the case alone).
// Returns 0 with the full index-file name in *index_name, or the status of
// the failed expansion. Whoever names the file in a message uses this, so
// that the name shown is the file the open reached.
int isam_expand_name(const ismgr_control* ctl, const std::string& name, int32_t flags,
                     std::string* index_name);

// Moves the data-file handle of `main` into `temp` (a temporary index of the
// same file): `temp` then closes it, and `main` stays valid with its index
// handle alone. False when either block is not valid or `temp` already has
// a data handle.
bool isam_move_data_handle(IsamFileControl* main, IsamFileControl* temp);

// The validity rule of close, flush and lock release, extended by files
// whose data handle moved to a temporary index.
bool isam_control_valid(const IsamFileControl* fc);

// Forgets the process-wide ".is2" choice so that the next open reads
// "IGNIS2" again (tests).
void reset_isam_open_for_test();

}  // namespace ismgr

#endif  // ISMGR_ISAM_ISAM_OPEN_H_

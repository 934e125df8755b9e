// The file primitives: every file the layer touches (index, data, sequential
// and relative files, work files) is opened, positioned, read and written
// here, over the platform layer's handles.
//
// Failures return -1 and leave a C library error number in errno, set from
// the platform's last OS error by one table (errno_for_os_error). Opens of a
// file another process holds, deletes and renames are retried up to the retry
// count ("RETRYTIME", default 50) with 100 ms pauses; reads and writes that
// meet a lock violation are tried up to 20 times with 500 ms pauses.
#ifndef ISMGR_FILEIO_FILE_IO_H_
#define ISMGR_FILEIO_FILE_IO_H_

#include <cstdint>
#include <functional>

#include "ismgr/platform/platform.h"

namespace ismgr {

using FileHandle = platform::Handle;
constexpr FileHandle kInvalidFileHandle = platform::kInvalidHandle;

// Open flags (the C library's open flags as numbers).
constexpr int kOpenWriteOnly = 0x1;
constexpr int kOpenReadWrite = 0x2;
constexpr int kOpenAppend = 0x8;  // not supported: the open fails
constexpr int kOpenSequential = 0x20;
constexpr int kOpenTemporary = 0x40;  // deleted when closed
constexpr int kOpenCreate = 0x100;
constexpr int kOpenTruncate = 0x200;
constexpr int kOpenExclusive = 0x400;
constexpr int kOpenShortLived = 0x1000;
constexpr int kOpenWriteThrough = 0x200000;
constexpr int kOpenRetryInUse = 0x400000;  // wait while another holds the file

// Share codes (the C library's share codes as numbers); any other value
// denies nothing.
constexpr int kShareDenyReadWrite = 0x10;
constexpr int kShareDenyWrite = 0x20;
constexpr int kShareDenyRead = 0x30;
constexpr int kShareDenyNone = 0x40;

// Transfers larger than this are split at multiples of it in the file.
constexpr uint32_t kTransferPiece = 65536;

// Opens or creates `name`. `perm` is accepted for the callers' sake and not
// used. Returns the handle, or -1 with errno set (an append open fails with
// errno untouched).
FileHandle file_open(const char* name, int flags, int share, int perm);
// As file_open (for reading, or reading and writing), and reads the file's
// first `count` bytes into `buffer` as part of the open, their number into
// *done (0 for a pipe). The file pointer stays at 0. Costs fewer system calls
// than an open followed by a read.
FileHandle file_open_reading(const char* name, int flags, int share, void* buffer, uint32_t count,
                             uint32_t* done);
// 0, or 1 when the close failed.
int file_close(FileHandle h);

// Moves the file pointer by the low 32 bits of `distance` taken as unsigned;
// method 0 from the start, 1 from the current position, anything else from
// the end. The new position, or -1 with errno set.
int64_t file_seek(FileHandle h, int64_t distance, int method);
// Moves by the whole 64-bit distance with a platform seek method; the new
// position or -1, errno untouched.
int64_t file_seek_plain(FileHandle h, int64_t distance, int method);
// Width 0 moves as file_seek does. Any other width moves by the whole 64-bit
// distance; with width 40 a resulting position above 2^40 - 1, with width 48
// one above 2^48 - 1, is reported as -1.
int64_t file_seek_width(FileHandle h, int64_t distance, int method, int width);

// Bytes read (0 at end of file, and when a pipe's writer has gone), or -1.
int64_t file_read(FileHandle h, void* buffer, uint32_t count);
// Bytes read at `offset` (short only at end of file), in one positioned
// transfer that neither uses nor moves the file pointer; -1 with errno set.
int64_t file_pread(FileHandle h, void* buffer, uint32_t count, int64_t offset);
// Bytes written, or -1 with errno ENOSPC for a full disk and 0 otherwise.
int64_t file_write(FileHandle h, const void* buffer, uint32_t count);

// Positioned transfers: seek to `offset` from the start (the whole 64-bit
// offset when `wide`, else its low 32 bits), then transfer. Counts above
// kTransferPiece are split at multiples of kTransferPiece in the file; a short
// piece ends the transfer with the bytes done so far (-1 when it failed).
int64_t file_read_at(FileHandle h, void* buffer, uint32_t count, int64_t offset, bool wide);
int64_t file_write_at(FileHandle h, const void* buffer, uint32_t count, int64_t offset, bool wide);
// As above, in one transfer of any size.
int64_t file_read_at_single(FileHandle h, void* buffer, uint32_t count, int64_t offset, bool wide);
int64_t file_write_at_single(FileHandle h, const void* buffer, uint32_t count, int64_t offset,
                             bool wide);
// The size of the next piece of a split transfer at file position `position`
// with `remaining` bytes to go: up to the next multiple of kTransferPiece.
uint32_t transfer_piece(uint64_t position, uint32_t remaining);

// Flushes each handle given (kInvalidFileHandle means none); always 0.
int file_flush(FileHandle data, FileHandle index);

// 0, or -1 with errno set; a file in use is waited for (retry count times).
int file_delete(const char* name);
// Renames without replacing an existing target; 0, or -1 with errno set.
int file_rename(const char* old_name, const char* new_name);

// 1 when the volume holding `name` keeps files with 40-bit offsets and the
// file pointer of `h` can be set to 2^39 (and back to 0), else 0.
int large_file_probe(FileHandle h, const char* name);

// The C library error number for an OS error (the one fixed table).
int errno_for_os_error(uint32_t os_error);
// Acts only when `result` is negative: sets errno from the last OS error.
// Returns `result` unchanged.
int64_t map_os_error(int64_t result);

// The retry count of opens, deletes and renames: read from "RETRYTIME" by the
// first user in the process (text that is no number counts as 0), 50 when
// unset.
int32_t file_retry_count();

// Test seams. Replacing a hook affects the whole process; pass an empty
// function to restore the platform's own.
struct FileIoHooks {
  std::function<bool(FileHandle, void*, uint32_t, uint32_t*)> read;
  std::function<bool(FileHandle, const void*, uint32_t, uint32_t*)> write;
  std::function<void(uint32_t)> sleep;
};
void set_file_io_hooks_for_testing(const FileIoHooks& hooks);
// Forgets the retry count so that the next user reads "RETRYTIME" again.
void reset_file_retry_count_for_testing();

}  // namespace ismgr

#endif  // ISMGR_FILEIO_FILE_IO_H_

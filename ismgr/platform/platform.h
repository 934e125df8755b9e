// The operating-system layer of ISMGR.
//
// This is the only code that calls the operating system. It offers the layer
// above the services it was designed around: file handles with share modes,
// byte-range locks that belong to a handle, a per-thread "last OS error" in a
// fixed numeric vocabulary (the values below), time, sleep, the environment,
// a read-only mapping of a file's first word, and volume queries.
//
// Each operating system implements this header and nothing else: posix/
// (which emulates the services on Linux) and win32/ (the kernel's own).
#ifndef ISMGR_PLATFORM_PLATFORM_H_
#define ISMGR_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ismgr::platform {

// ---------------------------------------------------------------------------
// Last OS error. Every failing call below sets it (per thread): on Windows to
// the system's own error (GetLastError), on POSIX from errno through one
// table; successful calls leave it alone unless stated.
// ---------------------------------------------------------------------------
enum OsError : uint32_t {
  kErrSuccess = 0,
  kErrInvalidFunction = 1,
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrInvalidAccess = 12,
  kErrWriteProtect = 19,
  kErrBadUnit = 20,
  kErrNotReady = 21,
  kErrSharingViolation = 32,
  kErrLockViolation = 33,
  kErrSharingBufferExceeded = 36,
  kErrHandleEof = 38,
  kErrNotSupported = 50,
  kErrBadNetPath = 53,
  kErrDevNotExist = 55,
  kErrNotSameDevice = 17,
  kErrFileExists = 80,
  kErrInvalidParameter = 87,
  kErrBrokenPipe = 109,
  kErrDiskFull = 112,
  kErrNoMoreSearchHandles = 113,
  kErrInvalidName = 123,
  kErrNegativeSeek = 131,
  kErrDirNotEmpty = 145,
  kErrNotLocked = 158,
  kErrBadPathname = 161,
  kErrAlreadyExists = 183,
  kErrInvalidFlagNumber = 186,
  kErrFilenameTooLong = 206,
  kErrFileSystemLimitation = 665,
  kErrInvalidFlags = 1004,
  kErrFileInvalid = 1006,  // e.g. mapping a file too short for the view
  kErrIoDevice = 1117,     // the device reported an I/O error
};

// The calling thread's last OS error.
uint32_t last_error();
void set_last_error(uint32_t error);
// Sets the last OS error from an errno value (the one mapping table). `path`,
// when given, lets ENOENT tell "file not found" (2) from "path not found" (3):
// a name whose directory does not exist is path-not-found.
void set_last_error_from_errno(int err, const char* path = nullptr);

// ---------------------------------------------------------------------------
// Files. A handle is a descriptor on POSIX; on Windows the kernel handle's
// value, of which the system keeps only the low 32 bits significant. -1 is
// the one invalid value.
// ---------------------------------------------------------------------------
using Handle = int;
constexpr Handle kInvalidHandle = -1;

enum class Access { kRead, kWrite, kReadWrite };

// What other opens of the same file this handle allows (bits).
enum Share : unsigned { kShareNone = 0, kShareRead = 1, kShareWrite = 2 };

enum class Disposition {
  kCreateNew,     // fails with kErrFileExists when the file exists
  kCreateAlways,  // creates or empties
  kOpenExisting,  // fails with kErrFileNotFound when missing
};

struct OpenOptions {
  Access access = Access::kRead;
  unsigned share = kShareRead | kShareWrite;
  Disposition disposition = Disposition::kOpenExisting;
  bool delete_on_close = false;
  bool temporary = false;      // a hint only
  bool write_through = false;  // O_DSYNC
  bool sequential = false;     // access-pattern hint only
  // An open with read access may read the file's first bytes as part of the
  // open: up to `first_read_count` bytes from offset 0 into `first_read`, the
  // number read into *first_read_done (0 for a file that cannot be read at an
  // offset, such as a pipe, or when the read failed: reading again reports
  // the error). The file pointer stays at 0. Such an open costs fewer system
  // calls: the read itself refuses a directory.
  void* first_read = nullptr;
  uint32_t first_read_count = 0;
  uint32_t* first_read_done = nullptr;
};

// Opens or creates a file. Share modes are enforced among all handles of all
// processes on this machine that open through this layer: an open whose access
// another handle denies, or that denies an access another handle has, fails
// with kErrSharingViolation (and an existing file is then left untouched, also
// by kCreateAlways). A directory cannot be opened (kErrAccessDenied). A "\" in
// a name is read as "/". Returns kInvalidHandle on failure.
Handle open_file(const char* name, const OpenOptions& options);
// Closes a handle, releasing its byte-range locks and share claims; a handle
// opened with delete_on_close removes its file.
bool close_file(Handle handle);

enum SeekMethod { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };
// Moves the file pointer. A resulting negative position fails with
// kErrNegativeSeek. `new_position` may be null.
bool seek(Handle handle, int64_t distance, SeekMethod method, int64_t* new_position);
// Reads up to `count` bytes at the file pointer; *done is 0 at end of file.
bool read(Handle handle, void* buffer, uint32_t count, uint32_t* done);
bool write(Handle handle, const void* buffer, uint32_t count, uint32_t* done);
// Reads up to `count` bytes at `offset` without using or moving the file
// pointer; *done is short only at the end of the file. Fails on a file that
// cannot be read at an offset (a pipe).
bool read_at(Handle handle, void* buffer, uint32_t count, int64_t offset, uint32_t* done);
bool flush(Handle handle);
// Truncates or extends the file to the file pointer.
bool set_end_of_file(Handle handle);
bool file_size(Handle handle, int64_t* size);
// Sets the creation (where the file system keeps one) and access times to now.
// Where the file system cannot, this is a successful no-op.
bool set_created_and_accessed_now(Handle handle);

// Deletes a file. A file that is open through this layer (by any handle of
// any process) cannot be deleted: kErrSharingViolation.
bool delete_file(const char* name);
// Renames, copying across file systems; an existing target is never replaced
// (fails with kErrAlreadyExists). A file open through this layer cannot be
// moved: kErrSharingViolation.
bool move_file(const char* from, const char* to);

struct FileStatus {
  bool is_directory = false;
  bool read_only = false;  // no write permission for this process
  int64_t size = 0;
  int64_t modified = 0;  // seconds since 1970
  int64_t accessed = 0;
  int64_t changed = 0;
};
// False (with the last OS error set) when the name does not exist.
bool file_status(const char* name, FileStatus* status);
bool handle_status(Handle handle, FileStatus* status);
std::string current_directory();
// Looks in `directory` for an entry whose name equals `name` without regard
// to ASCII case; an entry spelled exactly like `name` wins. True with the
// entry's own spelling in *found; false (last OS error set: file not found,
// or the error of listing the directory) when there is none.
bool find_entry_nocase(const char* directory, const char* name, std::string* found);

// ---------------------------------------------------------------------------
// Byte-range locks. They belong to the handle: two handles of one process
// exclude each other as two processes do. Every lock is exclusive. A refused
// lock fails with kErrLockViolation, also when the handle itself already holds
// an overlapping range. An unlock names exactly a range that was locked,
// otherwise it fails with kErrNotLocked. On POSIX locks mark positions and do
// not keep anyone from reading or writing the bytes; on Windows a locked byte
// cannot be read or written through another handle (kErrLockViolation).
// Ranges must end at or below kMaxLockEnd (kErrInvalidParameter otherwise); a
// zero length locks nothing but is kept, so that its unlock succeeds. Handles
// opened read-only lock too.
// ---------------------------------------------------------------------------
constexpr uint64_t kMaxLockEnd = uint64_t{1} << 62;
bool lock_range(Handle handle, uint64_t offset, uint64_t length, bool fail_immediately);
bool unlock_range(Handle handle, uint64_t offset, uint64_t length);

// ---------------------------------------------------------------------------
// Volumes.
// ---------------------------------------------------------------------------
// True when `path` lies on a network file system (NFS, SMB/CIFS, ...).
bool is_network_path(const char* path);
// True when the volume holding `path` is a local fixed drive (every local file
// system counts as one).
bool is_fixed_drive(const char* path);
// True when the volume holding `path` keeps files with offsets of 2^39 and
// more (the file-system type says so).
bool volume_has_large_files(const char* path);

// A read-only view of the first 32-bit little-endian word of a file, read
// afresh at every call of value(), so a change another process writes is seen
// at once. A file shorter than 4 bytes cannot be mapped (kErrFileInvalid).
// The view keeps its own reference to the file: the handle given to map() may
// be closed afterwards. Reading never faults: should the file later shrink
// below 4 bytes, the missing bytes read as 0.
class MappedWord {
 public:
  MappedWord() = default;
  ~MappedWord();
  MappedWord(const MappedWord&) = delete;
  MappedWord& operator=(const MappedWord&) = delete;
  // Maps the first word of the open file. False (last OS error set) on failure.
  bool map(Handle handle);
  bool mapped() const { return view_ >= 0; }
  uint32_t value() const;
  void unmap();

 private:
  int view_ = -1;  // a private descriptor of the mapped file
};

// A read-only view of stretches of an open file for one reader that moves
// through it, served without a copy where the system allows: on POSIX a
// mapping of a window of a few megabytes, moved on when a stretch falls
// outside it; elsewhere, or when the file cannot be mapped, a positioned read
// into a buffer of the view's own. A mapped page of a file that another
// process shrinks under the view would fault; the view guards against that:
// such pages read as zeros and shrunk() says so. A caller that reads bytes it
// was handed must therefore ask shrunk() once it is done with them, before it
// trusts what it found.
class FileView {
 public:
  // `size` is the file's size as the caller knows it; stretches lie below it.
  FileView(Handle handle, uint64_t size) : handle_(handle), size_(size) {}
  ~FileView();
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;
  // Points at the `length` bytes at `offset`, valid until the next call or
  // the view's end. Null (last OS error set) when they cannot be read whole:
  // beyond `size`, a read error, or a file shorter than `size`.
  const uint8_t* view(uint64_t offset, size_t length);
  // True once a mapped page was found cut off from the file.
  bool shrunk() const;

 private:
  bool map_window(uint64_t offset, size_t length);  // false: not mapped
  void unmap_window();

  Handle handle_;
  uint64_t size_;
  const uint8_t* window_ = nullptr;  // the mapped window, or null
  uint64_t window_offset_ = 0;
  size_t window_length_ = 0;
  int guard_slot_ = -1;  // the fault guard's record of the window
  bool map_refused_ = false;
  bool shrunk_ = false;  // seen by a window given up since
  struct FreeAligned {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t[], FreeAligned> buffer_;  // page-aligned
  size_t buffer_size_ = 0;
};

// ---------------------------------------------------------------------------
// Time, threads, environment.
// ---------------------------------------------------------------------------
void sleep_ms(uint32_t milliseconds);
int64_t now_seconds();    // seconds since 1970, UTC
int64_t now_millis();     // milliseconds since 1970, UTC
uint64_t monotonic_ms();  // for time-outs

struct LocalTime {
  int year, month, day;  // month 1..12
  int hour, minute, second, millisecond;
  int weekday;  // 0 = Sunday
};
LocalTime local_time(int64_t seconds);
LocalTime local_time_now();
// The classic 25-character local-time text "Thu Jan 01 00:00:00 1970\n"
// with the day of the month zero-padded.
std::string ctime_text(int64_t seconds);

uint32_t thread_id();
uint32_t process_id();

// Per-thread storage the layer above frees when its thread ends. It is not a
// thread_local object with a destructor: the Windows C++ runtime runs those
// after the thread's thread_local storage is gone, so the destructor would
// read freed memory. The owner embeds an entry in its heap-allocated
// per-thread state, keeps its own (trivial) thread_local pointer to it, and
// never reads thread_local variables from `release`.
struct ThreadExitEntry {
  void (*release)(ThreadExitEntry* entry) = nullptr;
  ThreadExitEntry* next = nullptr;  // used by the layer

  // Releases `head` and every entry after it: what the layer's thread-end
  // callback does with a thread's list.
  static void release_list(ThreadExitEntry* head) {
    while (head != nullptr) {
      ThreadExitEntry* next = head->next;
      head->release(head);
      head = next;
    }
  }
};
// Calls entry->release(entry) when the calling thread ends. The process's
// last thread is not covered: the end of the process frees everything.
// False when the system has no room for the registration.
bool release_at_thread_exit(ThreadExitEntry* entry);

// The environment value of `name`, or null.
const char* get_env(const char* name);
// Puts "NAME=VALUE" into the process environment; "NAME=" removes NAME.
bool put_env(const char* assignment);

// Full path of the running program, or "" when it cannot be found.
std::string executable_path();

}  // namespace ismgr::platform

#endif  // ISMGR_PLATFORM_PLATFORM_H_

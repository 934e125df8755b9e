// The per-thread runtime context of ISMGR, the status block, the process
// configuration and start-up / shutdown.
//
// Every entry of the layer begins with current_context(): the thread's
// ismgr_control is created on first use and holds all of the thread's state.
// The first context created in the process also reads the process
// configuration from the environment, adapts the character class table to the
// locale and maps the backup-mode word.
//
// The recovery point of an operation is a C++ exception: a fatal error below
// an operation throws StatusError (status.h), the operation's boundary catches
// it, stores the code in the context's status block and returns its failure
// value.
#ifndef ISMGR_RUNTIME_CONTEXT_H_
#define ISMGR_RUNTIME_CONTEXT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace ismgr {

// "No handle": the value of every handle slot that holds none.
constexpr int64_t kNoHandle = -1;

// A growable work buffer: a 64-bit capacity and its storage. Storage comes
// from the C library heap and is released by release() or the destructor.
class WorkBuffer {
 public:
  WorkBuffer() = default;
  ~WorkBuffer() { release(); }
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;

  // The capacity given for a request of `needed` bytes: `needed` rounded down
  // to a multiple of 4096, plus 4096. Zero when that does not fit in 64 bits.
  static uint64_t capacity_for(uint64_t needed);

  // Obtains storage for at least `needed` bytes, dropping the old contents.
  // On failure the buffer is left empty (capacity 0, no storage) and false is
  // returned.
  bool obtain_fresh(uint64_t needed);
  // Obtains storage for at least `needed` bytes, keeping the old contents (as
  // much of them as fits). On failure the buffer is left as it was and false
  // is returned.
  bool obtain_keeping(uint64_t needed);
  // Frees the storage; the buffer is empty afterwards.
  void release();

  uint64_t capacity() const { return capacity_; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  char* chars() { return reinterpret_cast<char*>(data_); }
  bool empty() const { return data_ == nullptr; }

 private:
  uint64_t capacity_ = 0;
  uint8_t* data_ = nullptr;
};

// Per-open flags of the status block.
enum StatusFlag : int32_t {
  // The channel open proceeds although the start-up status is not 0.
  kStatusFlagIgnoreStartup = 0x20,
  // The ISAM open accepts a file that requires network encryption although
  // its data file lies on a network share (set by the description tool).
  kStatusFlagDescription = 0x40,
};

// The status block: the caller may supply one per open, otherwise the
// process-wide default block is used.
struct ismgr_status {
  int32_t code = 0;              // 0 after success, otherwise a status code
  uint32_t last_terminator = 0;  // character that ended the last text record read
  int32_t record_length = 0;     // length of the record last transferred
  int32_t result1 = 0;           // further results of the last operation,
  int32_t result2 = 0;           //   set by the drivers
  int64_t handle = kNoHandle;    // a file handle a caller leaves for the ISAM open
  WorkBuffer block_buffer;       // block work buffer of the ISAM driver
  WorkBuffer record_buffer;      // record work buffer of the ISAM driver
  int32_t open_flags = 0;        // StatusFlag bits; read and cleared by the ISAM open

  // Frees both work buffers.
  void release_buffers() {
    block_buffer.release();
    record_buffer.release();
  }
};

// Process-wide configuration, read once from the environment.
struct ismgr_config {
  uint32_t* options_high = nullptr;              // options 33 to 64 ("VRXOPT")
  uint32_t* options_low = nullptr;               // options 1 to 32
  const char* default_ext_sequential = nullptr;  // ".DDF"
  const char* default_ext_isam = nullptr;        // ".ISM"
  uint32_t flags = 0;       // kConfigCompression set per context while "SCSCOMPR" is on
  uint32_t mode_word1 = 0;  // both 1 after configuration
  uint32_t mode_word2 = 0;
  int32_t creation_revision = 0;  // revision of newly created ISAM files
};

constexpr uint32_t kConfigCompression = 0x10;

// Node of the process-wide shared list (circular; the head points to itself
// when the list is empty).
struct SharedListNode {
  SharedListNode* next = nullptr;
  SharedListNode* prev = nullptr;
};

// Size of the process-wide current-name buffer (terminator included). Names
// that would not fit are refused by the name expansion.
constexpr size_t kCurrentNameSize = 4096;

// The per-thread runtime context.
struct ismgr_control {
  // (No recovery point field: operations catch StatusError at their boundary.)
  ismgr_status* status = nullptr;         // receives the code of the current operation
  ismgr_config* config = nullptr;         // the process configuration
  WorkBuffer description_text;            // text of a description being read
  WorkBuffer portable_ints;               // portable-integer list of a creation
  WorkBuffer file_description;            // file description record being built
  SharedListNode* shared_list = nullptr;  // handed on to every channel
  char* current_name = nullptr;           // expanded name of the file being opened
                                          // (kCurrentNameSize bytes, process-wide)
};

// Start-up: reads the process configuration on the first call, creates the
// thread's context when it has none and writes the "ismgr_init" audit line.
// Returns the thread's context, or null when no memory can be had.
ismgr_control* ismgr_init();

// Shutdown: closes the calling thread's context (when it has one) with the
// final flag, then frees the default status block's buffers. `ctl` is not
// used to find the context: the calling thread's context is the one released.
void ismgr_shutdown(ismgr_control* ctl);

// The thread's context, created (with the configuration read first, when
// needed) when the thread has none. Null when memory runs out.
ismgr_control* current_context();

// The thread's context when it has one, without creating it.
ismgr_control* existing_context();

// Closes the thread's context: writes "ismgr_shutdown" to the audit log,
// frees the work buffers of the context and of a non-default status block
// (of the default block too when `final`), closes the audit stream, frees the
// context and clears the thread slot. Does nothing when the thread has none.
void close_context(ismgr_control* ctl, bool final);

// The process-wide default status block.
ismgr_status* default_status();

// The process configuration (read when it has not been yet).
ismgr_config* process_config();

// Makes sure the thread has its context, then returns the environment value
// of `name`, or null.
const char* ismgr_getenv(const char* name);

// Sleeps `milliseconds` (not interruptible). Used by the backup-mode wait and
// the lock retries.
void timed_wait(uint32_t milliseconds);

// The thread's audit stream, or null when the thread does not log. Used by
// the audit log only.
std::FILE* thread_audit_stream();

// ---------------------------------------------------------------------------
// Process-wide values set by the configuration.
// ---------------------------------------------------------------------------
// End-of-file character of sequential text files (26).
int eof_char();
// True when "SCSCOMPR" is set to a non-zero number.
bool compression_setting();
// The smallest signed values of 1-, 2-, 4- and 8-byte integers.
struct SmallestIntegers {
  int8_t i8;
  int16_t i16;
  int32_t i32;
  int64_t i64;
};
const SmallestIntegers& smallest_integers();
// The number of data write-behind buffers, "NUMDBUFS" read afresh at every
// call (the C library's decimal conversion): 1 to 10 are taken, any other
// value gives 1, unset gives 4. The one reader of the variable.
uint32_t data_cache_buffers();
// True when option `n` (1 to 64) of "VRXOPT" is set.
bool option_set(int n);
// The option numbers that survive in the option words.
constexpr uint32_t kOptionMaskLow = 0xC57A5617;   // options 1 to 32
constexpr uint32_t kOptionMaskHigh = 0x00F89F9F;  // options 33 to 64

// The C library's decimal conversion: leading white space, an optional sign,
// then digits; text that is no number gives 0. Saturates instead of
// overflowing.
int c_atoi(const char* text);

// Start-up status: 0, or 87 / 89 when the backup-mode set-up failed; every
// channel open fails with it unless the status block has
// kStatusFlagIgnoreStartup.
int32_t startup_status();
// The OS error of the failing backup-mode step (0 when none failed).
uint32_t startup_os_error();

// The backup-mode word as it reads now: 4 when backup mode is off, otherwise
// the first word of the backup-mode file, read afresh.
uint32_t backup_mode_word();
// True when the backup-mode file is open and mapped.
bool backup_mode_mapped();

// Mode bit of an update that must not wait for the end of a backup.
constexpr uint32_t kBackupNoWaitBit = 0x10000;
// Status of an update refused because a backup is in progress.
constexpr int kStatusBackupInProgress = 85;
constexpr int kStatusBackupAccess = 87;
constexpr int kStatusBackupInUse = 89;

// Called by every update operation (store, write, writes, update, delete)
// before it changes a file. While a backup is in progress (word 1) an update
// whose `mode` has kBackupNoWaitBit raises status 85 at once; any other waits
// in steps of 500 ms until the word no longer reads 1. Word values 0, 2 and 4
// proceed; any other value is logged as "Invalid backup mode" and proceeds.
void backup_mode_check(ismgr_control* ctl, uint32_t mode);

// ---------------------------------------------------------------------------
// Test hooks.
// ---------------------------------------------------------------------------
// Replaces the sleep of timed_wait (null restores the real sleep).
using WaitFunction = void (*)(uint32_t milliseconds);
void set_timed_wait_for_test(WaitFunction wait);
// Forgets the process configuration (unmapping the backup-mode word), closes
// the calling thread's context and restores the fixed character classes, so
// that the next entry reads the environment again.
void reset_process_for_test();
// Makes every work-buffer allocation fail while set.
void set_allocation_failure_for_test(bool fail);

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_CONTEXT_H_

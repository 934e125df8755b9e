// The audit log: one text line per file operation, written to a per-thread
// stdio stream when the environment switches it on ("ISMGR_AUDIT" names one
// file, "ISMGR_AUDIT_SRV" a prefix for one file per thread).
//
// Every operation that logs calls audit_log() with an option number and its
// values; the line is formatted, the error values and (at level 1 and up) the
// names of the mode bits are added, and the line is ended. A log call never
// fails and leaves the thread's last OS error as it found it.
#ifndef ISMGR_RUNTIME_AUDIT_H_
#define ISMGR_RUNTIME_AUDIT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ismgr/platform/platform.h"

namespace ismgr {

// Option numbers of the log call.
enum AuditOption : int {
  kAuditOpen = 1,           // "open(%x, %s, '%s')"
  kAuditDelete = 2,         // "delete(%x, rfa= %s)"
  kAuditRead = 3,           // "read(%x, '%s', rfa= %s, %x, Krf/recno= %d)"
  kAuditFind = 4,           // "find(%x, rfa= %s, %x, Krf/recno= %d)"
  kAuditReads = 5,          // "reads(%x, '%s', rfa= %s, %x)"
  kAuditFinds = 6,          // "finds(%x, rfa= %s, %x)"
  kAuditWrite = 7,          // "write(%x, '%s', rfa= %s, %x)"
  kAuditStore = 8,          // "store(%x, '%s', rfa= %s, %x)"
  kAuditClose = 9,          // "close(%x %x)" handle and close mode (in `mode`)
  kAuditUnlock = 10,        // "unlock(%x, rfa= %s)"
  kAuditCreated = 11,       // "created %s "
  kAuditRenamed = 12,       // "renamed %s sts= %d" status in `key`
  kAuditRemoved = 13,       // "removed %s sts= %d" status in `key`
  kAuditInit = 14,          // "ismgr_init"; clears the channel-number table
  kAuditShutdown = 15,      // "ismgr_shutdown"
  kAuditUpdate = 16,        // "update(%x, '%s', rfa= %s, %x)"
  kAuditForms = 17,         // "ismgr_forms(%x)"
  kAuditWrites = 18,        // "writes(%x, '%s', rfa= %s, %x)"
  kAuditAccept = 19,        // "ismgr_accept(%x) "
  kAuditFlush = 20,         // "ismgr_flush(%x)"
  kAuditPutstr = 21,        // "ismgr_putstr(%x)"
  kAuditLpque = 22,         // "ismgr_lpque %s"
  kAuditText = 23,          // "%s": a free text
  kAuditFree = 24,          // "free(%x)"
  kAuditReleasedLock = 25,  // "(next op) released lock at %I64u" position in `position`
  kAuditGetrfa = 26,        // "getrfa(%x, rfa= %s)"
  kAuditPosrfa = 27,        // "posrfa(%x, rfa= %s)"
  kAuditSetkrf = 28,        // "setkrf(%x, Krf= %d)" key in `key`
};

// Flags of the audit settings.
enum AuditFlag : uint32_t {
  kAuditFlagInternal = 0x1,  // internal form: no time stamps, channel numbers
  kAuditFlagRoutine = 0x2,   // accepted and stored; no routine is attached
  kAuditFlagLock = 0x4,      // the lock primitives log their calls
};

// The values of one log call besides option, error, handle and text.
struct AuditValues {
  uint64_t position = 0;   // record position (0: no RFA)
  uint32_t qualifier = 0;  // RFA qualifier
  uint32_t mode = 0;       // mode bits (open mode, record mode or close mode)
  int32_t key = 0;         // key of reference, record number or status
  // The record shown at level 2 (at most its first 200 bytes).
  const void* record = nullptr;
  size_t record_length = 0;
  // A successful ISAM open in the normal form shows the index-file and
  // data-file handles: "(%d:%d) = open(...)".
  bool has_file_handles = false;
  int64_t index_handle = -1;
  int64_t data_handle = -1;
};

// Audit set-up for the thread whose context is being created: reads the
// settings and opens the log. Returns the stream (owned by the thread's
// context) or null when the thread does not log.
std::FILE* audit_setup();

// The log call. `handle` is the driver handle (its low 32 bits are shown),
// `text` the file name, record or message (may be null).
void audit_log(int option, int32_t im_errno, const void* handle, const char* text,
               const AuditValues& values = AuditValues());

// A free-text line (option 23).
void audit_text(const char* text);
// A formatted free-text line (option 23).
void audit_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes `text` to the thread's audit stream as it is, without time or line
// end (for example " NULL ismgr_control in FCB\n"); nothing when the thread
// does not log.
void audit_raw(const char* text);

// True once a set-up found a log name.
bool audit_configured();
// True when log calls of this thread write: configured and the thread has a
// stream.
bool audit_active();
// 0 plain lines, 1 mode-bit names, 2 record contents too.
int audit_level();
uint32_t audit_flags();
// True when the lock primitives log their calls ("ISMGR_AUDIT_LOCK").
bool audit_lock_enabled();

// The RFA text: "<undef>" for position 0, otherwise "<position>-<qualifier>".
std::string audit_rfa_text(uint64_t position, uint32_t qualifier);
// The open letters of an open mode: I/O mode letter, then ":" and the
// organisation letter when the mode names one ("I:I" for input ISAM).
std::string audit_open_letters(uint32_t mode);

// The mode-bit name tables.
enum class AuditModeTable { kRecord, kOpen, kClose };
// " Modes= NAME |NAME " for the named bits of `mode` in table order (the last
// "|" removed); empty for mode 0.
std::string audit_mode_names(AuditModeTable table, uint32_t mode);

// Number of entries in the channel-number table (entry 0 is never used).
constexpr int kAuditChannelNumbers = 255;

// Test hooks.
// Forgets every audit setting (disabled, configured, filter, watched
// handles, channel numbers).
void reset_audit_for_test();
// Replaces the local time of the line prefix (null restores the clock).
using AuditClock = platform::LocalTime (*)();
void set_audit_clock_for_test(AuditClock clock);
// The channel number that holds `handle` in the internal form, 0 when none.
int audit_channel_number_for_test(const void* handle);

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_AUDIT_H_

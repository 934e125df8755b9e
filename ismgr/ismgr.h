/* ISMGR: the public interface of the ISAM record-management layer.
 *
 * This is the one header a host program includes (C or C++). Everything is
 * plain C: opaque handles, fixed-width integers and NUL-terminated texts; no
 * C++ exception ever leaves a function of this header.
 *
 * Conventions. Every operation reports through a status block: 0 after
 * success, otherwise a status code whose message ismgr_status_text() gives
 * (for example 2 "Illegal key specified", 57 "File not found"). The channel
 * operations follow the layer's own rule: they return 0 (or a count or a
 * number) on success and a negative value on failure, and leave the code in
 * the status block of the thread's context, read with ismgr_last_status().
 * The convenience calls ismgr_create() and ismgr_describe*() return the
 * status code itself.
 *
 * Threads: all state is per thread. Call ismgr_init() once in the first
 * thread before other threads enter the layer; a channel is used only by the
 * thread that opened it.
 *
 *   ismgr_control* ctl = ismgr_init();
 *   ismgr_channel* ch = ismgr_open("data/customer", ISMGR_MODE_INPUT | ISMGR_MODE_ISAM,
 *                                  0, 0, NULL, NULL);
 *   int32_t size = 0;
 *   if (ch == NULL) printf("%s\n", ismgr_status_text(ismgr_last_status()));
 *   else ismgr_file_info(ch, &size, NULL, 0, "size", 0, 0);
 *   ismgr_close(ch, 0, NULL);
 *   ismgr_shutdown(ctl);
 */
#ifndef ISMGR_ISMGR_H_
#define ISMGR_ISMGR_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

/* Symbols of the shared library: only what this header declares is exported. */
#if defined(_WIN32) && defined(ISMGR_SHARED)
#if defined(ISMGR_BUILDING)
#define ISMGR_API __declspec(dllexport)
#else
#define ISMGR_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define ISMGR_API __attribute__((visibility("default")))
#else
#define ISMGR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this library, "major.minor.patch". */
ISMGR_API const char* ismgr_version(void);

/* ------------------------------------------------------------------------
 * Handles
 * ------------------------------------------------------------------------ */

/* The calling thread's runtime context (all of the thread's state). */
typedef struct ismgr_control ismgr_control;
/* One open file. */
typedef struct ismgr_channel ismgr_channel;
/* A status block a caller may give to an open (see ismgr_open_with_status). */
typedef struct ismgr_status ismgr_status;

/* ------------------------------------------------------------------------
 * Start-up and shutdown
 * ------------------------------------------------------------------------ */

/* Start-up: reads the process configuration from the environment on the
 * first call in the process, creates the calling thread's context when it
 * has none and writes the audit line "ismgr_init". Returns the thread's
 * context, or NULL when no memory can be had. Every other entry creates the
 * context on first use as well, but a program calls this once first. */
ISMGR_API ismgr_control* ismgr_init(void);

/* Shutdown: releases the calling thread's context (its buffers and audit
 * stream). Close every channel first. `ctl` may be NULL: the calling
 * thread's context is the one released. A thread may start again. */
ISMGR_API void ismgr_shutdown(ismgr_control* ctl);

/* ------------------------------------------------------------------------
 * Status
 * ------------------------------------------------------------------------ */

/* The status code of the last operation of the calling thread: the code in
 * the status block its context reports into (0 after success). */
ISMGR_API int32_t ismgr_last_status(void);

/* The file the calling thread's last open, creation or close named, for
 * messages: after a failure the file it failed on (the index or data file
 * as expanded, or the description file), after a successful open the
 * channel's file (as ismgr_channel_name). "" when there is none. The text
 * stays valid until the thread's next call. */
ISMGR_API const char* ismgr_last_file_name(void);

/* The message of a status code ("File not found"), or NULL when the code has
 * none (0, and codes such as 85 or 200). Some messages end in a tab or a
 * blank, as stored. The text is static. */
ISMGR_API const char* ismgr_status_text(int32_t code);

/* A status block of the caller's own, for ismgr_open_with_status(). Returns
 * NULL when memory is short. Free it with ismgr_status_free() after the
 * channels opened with it are closed. */
ISMGR_API ismgr_status* ismgr_status_new(void);
ISMGR_API void ismgr_status_free(ismgr_status* status);
/* The block's status code. */
ISMGR_API int32_t ismgr_status_code(const ismgr_status* status);
/* Sets the block's per-open flags (ISMGR_STATUS_*), read by the next open. */
ISMGR_API void ismgr_status_set_flags(ismgr_status* status, int32_t flags);

/* The open proceeds although the start-up status (backup-mode set-up, codes
 * 87 and 89) is not 0. */
#define ISMGR_STATUS_IGNORE_STARTUP 0x20

/* ------------------------------------------------------------------------
 * Channels
 * ------------------------------------------------------------------------ */

/* Open mode bits. */
#define ISMGR_MODE_UPDATE 0x1u
#define ISMGR_MODE_INPUT 0x2u
#define ISMGR_MODE_OUTPUT 0x4u /* create; with ISAM it needs a description */
#define ISMGR_MODE_APPEND 0x8u
#define ISMGR_MODE_ISAM 0x40u
#define ISMGR_MODE_RELATIVE 0x80u
#define ISMGR_MODE_SEQUENTIAL 0x100u
#define ISMGR_MODE_BLOCK 0x200u
#define ISMGR_MODE_REPLACE 0x200000u /* creation replaces existing files */
#define ISMGR_MODE_NOLOCK 0x1000000u /* no record locking (needs ENABLE_NOLOCK=1) */

/* Close mode bits. */
#define ISMGR_CLOSE_PURGE 0x1u /* return 0 whatever the driver's close says */

/* Opens the file `name` with `mode` in the context `ctl` (NULL: the calling
 * thread's), reporting into `status` (NULL: the process-wide default
 * block). `arg1`, `arg2` and `driver_string` go to the sequential and
 * relative file driver, which this system does not contain (such opens fail
 * with 60); `description` is a description string, or "@" and the name of an
 * XDL file, and is only allowed with ISMGR_MODE_OUTPUT | ISMGR_MODE_ISAM.
 * Returns the channel, or NULL. Statuses: 0; 58 (name contains "@"), 59 (bad
 * mode), 105 (description with another mode), 87/89 (start-up), 31 (no
 * memory), those of the ISAM open, for example 17 "Not an ISAM file", 43,
 * 47 "File in use", 55, 57 "File not found", and those of creation. */
ISMGR_API ismgr_channel* ismgr_open_with_status(ismgr_control* ctl, const char* name, uint32_t mode,
                                                int64_t arg1, int64_t arg2,
                                                const char* driver_string, const char* description,
                                                ismgr_status* status);

/* The same in the calling thread's context with the default status block.
 * NULL (status 31) when the thread has no context and none can be made. */
ISMGR_API ismgr_channel* ismgr_open(const char* name, uint32_t mode, int64_t arg1, int64_t arg2,
                                    const char* driver_string, const char* description);

/* Closes the channel and frees it; the resulting status code goes to
 * `*status_code` (may be NULL). Returns the driver close's result (0, or -1
 * on failure, when the channel stays open so it can be closed again), 0 with
 * ISMGR_CLOSE_PURGE (the channel is then always freed), -1 for a NULL
 * channel. Statuses: 0, 42 "Flush error", 25 and other write failures. */
ISMGR_API int64_t ismgr_close(ismgr_channel* ch, uint32_t close_mode, int32_t* status_code);

/* The expanded name of the file the channel holds; "" for NULL. */
ISMGR_API const char* ismgr_channel_name(const ismgr_channel* ch);

/* The operations-table slots this system serves on ISAM channels. */
enum ismgr_slot {
  ISMGR_SLOT_CLOSE = 3,           /* as ismgr_close (mode: the close mode) */
  ISMGR_SLOT_SUMMARY_TEXT = 10,   /* see ismgr_file_summary_text */
  ISMGR_SLOT_SUMMARY_RECORD = 11, /* the 17-byte record of ismgr_file_summary_record */
  ISMGR_SLOT_FILE_INFO = 12,      /* see ismgr_file_info */
  ISMGR_SLOT_KEY_TEXT = 13,       /* see ismgr_key_text */
  ISMGR_SLOT_KEY_RECORD = 14,     /* the 56-byte record of ismgr_key_record */
  ISMGR_SLOT_FREE_LOCKS = 16,     /* release every record lock of the channel */
  ISMGR_SLOT_FLUSH = 18,          /* write buffered blocks to disk */
  ISMGR_SLOT_KEY_BY_NAME = 24,    /* see ismgr_key_by_name */
  ISMGR_SLOT_KEY_BY_POSITION = 25 /* see ismgr_key_by_position */
};

/* The arguments of one slot call; each slot reads the members it needs
 * (listed with the slots above and the functions below), the rest stay 0. */
typedef struct ismgr_call_args {
  uint32_t mode;       /* close mode (slot 3) */
  int32_t* number;     /* a number result (slot 12) */
  char* text;          /* a text result or a record buffer */
  int32_t capacity;    /* bytes at `text`; the name length (slot 24), the length (slot 25) */
  const char* keyword; /* slot 12 */
  int32_t key;         /* key number; the start counted from 0 (slot 25) */
  int32_t segment;     /* slot 12 */
  int64_t value;       /* passed through */
} ismgr_call_args;

/* Calls operations-table slot `slot` (1 to 34) of an open channel. Returns
 * the slot's result. A slot the channel's driver does not serve (the record
 * operations are not part of this system), a NULL or closed channel or a
 * slot out of range returns -1 with status 63 "Illegal function for this
 * control". Prefer the dedicated functions below. */
ISMGR_API int64_t ismgr_call(ismgr_channel* ch, int slot, ismgr_call_args* args);

/* ------------------------------------------------------------------------
 * File information
 * ------------------------------------------------------------------------ */

/* The file information query by keyword ("size", "numkeys", "kposition",
 * "keylength", "ktype", "keyname", "fopts", "string", "putnote", "filename",
 * ...; case-insensitive, unique abbreviations accepted) for key `key` and
 * segment `segment` (both counted from 0; file-level items still check
 * them). A number item stores into `*number`, a text item copies at most
 * `capacity` - 1 characters and a NUL into `text`. Returns 0; -1 on failure:
 * 2 (key out of range), 79 (segment out of range), 32 (unknown keyword), 37
 * (the item's result pointer is NULL), 6, 45, 80; -2 for a NULL channel. */
ISMGR_API int64_t ismgr_file_info(ismgr_channel* ch, int32_t* number, char* text, int32_t capacity,
                                  const char* keyword, int32_t key, int32_t segment);

/* Number form: the number item `keyword` of key 0, segment 0 ("size",
 * "numrecs", "numkeys", "revision", "pagesize", ...). Returns as
 * ismgr_file_info(). */
ISMGR_API int64_t ismgr_file_number(ismgr_channel* ch, const char* keyword, int32_t* number);

/* Text form: the text item `keyword` of key 0, segment 0 ("fopts",
 * "filename", "createdate", "putnote", ...) into `text`. Returns as
 * ismgr_file_info(). */
ISMGR_API int64_t ismgr_file_text(ismgr_channel* ch, const char* keyword, char* text,
                                  int32_t capacity);

/* The file summary as fixed-width text (slot 10): 31 characters and a NUL
 * into `text` (at least 32 bytes), "%05d%05d%03d99999999%08d%02d" with the
 * record size, the primary key's start (from 1) and size, 99999999 less the
 * record count (0 when more) and the key count (0 from 100 keys on). Returns
 * 31; -2 when the channel's file is not valid or `text` is NULL. */
ISMGR_API int64_t ismgr_file_summary_text(ismgr_channel* ch, char* text);

/* The file summary as a record (slot 11). */
typedef struct ismgr_file_summary {
  uint16_t record_size;  /* low 16 bits of the record size */
  uint16_t key_start;    /* the primary key's first byte, counted from 1 */
  uint16_t key_size;     /* the primary key's size without duplicate qualifier */
  uint32_t max_records;  /* 999999999 */
  uint32_t records_left; /* 999999999 - record count */
  uint8_t key_count;     /* keys, the change-tracking key not counted */
} ismgr_file_summary;

/* Fills `summary`. Returns 0; -2 when the channel's file is not valid. */
ISMGR_API int64_t ismgr_file_summary_record(ismgr_channel* ch, ismgr_file_summary* summary);

/* ------------------------------------------------------------------------
 * Keys
 * ------------------------------------------------------------------------ */

/* Key parameters (slot 14). */
typedef struct ismgr_key_params {
  uint16_t start;         /* first byte, counted from 1 */
  uint16_t size;          /* without the duplicate qualifier */
  uint8_t duplicates;     /* 0 or 1 */
  uint8_t ascending;      /* 0 or 1 */
  uint8_t modifiable;     /* 0 or 1 */
  uint8_t unused;         /* not written */
  char name[16];          /* up to 15 characters, trailing blanks removed, NUL */
  uint16_t seg_start[8];  /* per segment, counted from 1; 0 past the last */
  uint16_t seg_length[8]; /* per segment; 0 past the last */
} ismgr_key_params;

/* The parameters of key `key` (0 is the primary key; the change-tracking
 * key is never described). Returns 0; -1 with status 2 for a key out of
 * range; -2 when the channel's file is not valid; -1 with 63 for a channel
 * that is not an ISAM channel. */
ISMGR_API int64_t ismgr_key_record(ismgr_channel* ch, int32_t key, ismgr_key_params* params);

/* The same as fixed-width text (90 characters and a NUL into `text`, which
 * holds at least 91 bytes): "%05d%03d%c%c%c%15s" with start, size and the
 * three flags as "0"/"1" and the name, then per segment 0 to 7 the start as
 * "%05d" and then the lengths as "%03d". Returns 90; -2 with status 2 for a
 * key out of range. */
ISMGR_API int64_t ismgr_key_text(ismgr_channel* ch, int32_t key, char* text);

/* The number of the first key whose name begins with the `length` bytes of
 * `name`. Returns the key number; -1 with status 8 when none matches. */
ISMGR_API int64_t ismgr_key_by_name(ismgr_channel* ch, const char* name, int32_t length);

/* The number of the first single-segment key starting at `start` (counted
 * from 0) with size `length`; otherwise of the first key starting there
 * whose first segment covers `length` bytes. When none does: 0 (the primary
 * key), or -2 with status 7 when runtime option 45 ("VRXOPT") is set. */
ISMGR_API int64_t ismgr_key_by_position(ismgr_channel* ch, int32_t start, int32_t length);

/* ------------------------------------------------------------------------
 * Creating and describing files
 * ------------------------------------------------------------------------ */

/* Creates a new, empty ISAM file pair from `description`: a description
 * string ("FILE NAME=... RECORD SIZE=... KEY ...") or "@" and the name of an
 * XDL file. `name` names the file (it may carry creation options after a
 * comma, "data/cust,page=4096"); NULL or "" takes the description's NAME.
 * `replace` non-zero replaces existing files. The file is created by an
 * output open that is closed again. Returns 0 or the status code: 40 (file
 * exists), 81/82 (error in XDL file / string), 30, 31, 32, 34, 35, 39, 41,
 * 70 to 79 and the other codes of the description and creation, and those
 * of the open and close. A failed creation leaves no file behind (when the
 * open or close after it fails, the new pair is deleted again);
 * ismgr_last_file_name() then names the file that failed. */
ISMGR_API int32_t ismgr_create(const char* name, const char* description, int replace);

/* Description formats. */
enum ismgr_format {
  ISMGR_FORMAT_PAR = 0, /* parameter file, ';' comments */
  ISMGR_FORMAT_XDL = 1  /* keyword description, '!' comments */
};
/* Description flags. */
#define ISMGR_DESCRIBE_BARE 0x1            /* leave out the comments (diagnosis, dates) */
#define ISMGR_DESCRIBE_CHANGE_TRACKING 0x2 /* describe the change-tracking key too */

/* Writes the description of the open ISAM file `ch` in `format` to
 * `stream`. The description holds what creates an empty file of the same
 * layout again (ismgr_create with "@" and the name of a saved XDL
 * description) and, unless ISMGR_DESCRIBE_BARE, the file's diagnosis in
 * comments. `name` is the file name the description gives (NULL: the
 * channel's expanded name). Returns 0 or a status code: 1 (not an open ISAM
 * channel, or a format that is neither PAR nor XDL), 37 (`stream` is NULL),
 * 31 (no memory), or a status raised while reading the file. A PAR
 * description whose file text did not fit on its file line is still complete
 * and returns 0. */
ISMGR_API int32_t ismgr_describe_file(ismgr_channel* ch, int format, int flags, const char* name,
                                      FILE* stream);

/* The same into the caller's buffer: at most `size` - 1 characters and a
 * NUL (nothing when `buffer` is NULL or `size` 0). `*length` (may be NULL)
 * receives the length of the whole description, so a caller whose buffer
 * was too small can retry with *length + 1 bytes. Returns as
 * ismgr_describe_file(). */
ISMGR_API int32_t ismgr_describe(ismgr_channel* ch, int format, int flags, const char* name,
                                 char* buffer, size_t size, size_t* length);

/* ------------------------------------------------------------------------
 * Details
 * ------------------------------------------------------------------------ */

/* Receives the diagnostics of the description parser, the open and the
 * queries: a detail code (1052 a message, 1142 a keyword, 1191/1192 a
 * number and its limit, ...), a text (may be NULL), a 64-bit value and, for
 * the codes whose value is a text, that text (else NULL; valid during the
 * call only). `user` is the pointer given to ismgr_set_detail_hook. */
typedef void (*ismgr_detail_hook)(void* user, int code, const char* text, int64_t value,
                                  const char* value_text);

/* Installs `hook` for the whole process (NULL removes it): install it before
 * a second thread enters the layer. Without a hook details are dropped and
 * only status codes reach the caller. */
ISMGR_API void ismgr_set_detail_hook(ismgr_detail_hook hook, void* user);

#ifdef __cplusplus
}
#endif

#endif /* ISMGR_ISMGR_H_ */

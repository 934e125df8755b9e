// The audit log: settings, per-thread set-up and the log call.
#include "ismgr/runtime/audit.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

namespace {

// Process-wide settings, shared by all threads without a lock (they are set
// by the first user before a second thread enters the layer).
struct AuditState {
  bool disabled = false;    // a set-up found no log name
  bool configured = false;  // a set-up found a log name
  int level = 0;
  bool flush = false;
  uint32_t flags = 0;
  bool has_filter = false;
  std::string filter;
  uint32_t watched[2] = {0, 0};  // channels selected by the file-name filter
  // Channel numbers of the internal form: entry i (1 to 254) holds the handle
  // that owns number i, 0 when free. Entry 0 is never used.
  uint32_t channels[kAuditChannelNumbers] = {};
};

AuditState g_audit;
AuditClock g_clock = nullptr;

platform::LocalTime now() {
  return g_clock != nullptr ? g_clock() : platform::local_time_now();
}

bool env_set(const char* name) {
  return platform::get_env(name) != nullptr;
}

uint32_t low32(const void* handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}

struct ModeName {
  uint32_t bit;
  const char* name;
};

const ModeName kRecordNames[] = {
    {0x1, "IM_FIRST"},        {0x2, "IM_LAST"},        {0x8, "IM_NEXT"},
    {0x10, "IM_PREV"},        {0x20, "IM_TRUNC"},      {0x40, "IM_RFA"},
    {0x100, "IM_GETRFA"},     {0x200, "IM_GTEQ"},      {0x400, "IM_MGT"},
    {0x800, "IM_MEQ"},        {0x1000, "IM_GTEQN"},    {0x2000, "IM_FIXED"},
    {0x20000, "IM_WAITN"},    {0x80000, "IM_MANLOCK"}, {0x10000, "IM_WAIT"},
    {0x40000, "IM_NOWAIT"},   {0x8000000, "IM_GUID"},  {0x10000000, "IM_RGUID"},
    {0x400000, "IM_BOF"},     {0x800000, "IM_EOF"},    {0x100000, "IM_NOPROB"},
    {0x1000000, "IM_NOLOCK"}, {0x4000000, "IM_LOCK"},  {0x8000, "IM_NOFILL"},
};

const ModeName kOpenNames[] = {
    {0x10000, "IM_WAIT"},   {0x40000, "IM_NOWAIT"},    {0x400000, "IM_BOF"},
    {0x800000, "IM_EOF"},   {0x1000000, "IM_NOLOCK"},  {0x4000000, "IM_LOCK"},
    {0x10, "IM_EXRW"},      {0x20, "IM_EXW"},          {0x400, "IM_TEMP"},
    {0x2000, "IM_GETRSIZ"}, {0x200000, "IM_SPRCED"},   {0x1000, "IM_SEQUENTIAL"},
    {0x20000, "IM_CACHE"},  {0x100000, "IM_NETCACHE"}, {0x8000, "IM_NDELAY"},
};

const ModeName kCloseNames[] = {
    {0x4, "IM_NOFCBRELEASE"},
    {0x2, "IM_FORK"},
    {0x1, "IM_PURGE"},
    {0x200000, "IM_SPRCED"},
};

// Appends printf-formatted text to `out`.
void appendf(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string* out, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out->append(small, static_cast<size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  va_start(args, format);
  std::vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  out->append(big.data(), static_cast<size_t>(n));
}

// The record text: empty unless the level is 2 and a record is given; then
// at most its first 200 bytes. The internal form shows every byte below a
// blank (0x80 to 0xFF included) as "~"; the normal form stops at a zero byte.
std::string record_text(const AuditValues& v, bool internal) {
  std::string text;
  if (g_audit.level != 2 || v.record == nullptr) return text;
  size_t n = v.record_length < 200 ? v.record_length : 200;
  const char* bytes = static_cast<const char*>(v.record);
  for (size_t i = 0; i < n; ++i) {
    signed char c = static_cast<signed char>(bytes[i]);
    if (internal) {
      text.push_back(c < ' ' ? '~' : static_cast<char>(c));
    } else {
      if (c == 0) break;
      text.push_back(static_cast<char>(c));
    }
  }
  return text;
}

void append_errors(std::string* line, int32_t im_errno, uint32_t kept) {
  if (im_errno != 0) appendf(line, " im_errno= %d ", im_errno);
  if (kept != 0) appendf(line, " lasterr= %d ", static_cast<int>(kept));
}

void append_modes(std::string* line, AuditModeTable table, uint32_t mode) {
  if (g_audit.level >= 1) line->append(audit_mode_names(table, mode));
}

// The channel number shown for `h` in the internal form (the handle itself
// when it has none). An open takes the first free number; a close frees it.
uint32_t internal_number(int option, uint32_t h) {
  if (h == 0) return h;
  if (option == kAuditOpen) {
    for (int i = 1; i < kAuditChannelNumbers; ++i) {
      if (g_audit.channels[i] == 0) {
        g_audit.channels[i] = h;
        return static_cast<uint32_t>(i);
      }
    }
    return h;  // every number taken: show the handle
  }
  for (int i = 1; i < kAuditChannelNumbers; ++i) {
    if (g_audit.channels[i] == h) {
      if (option == kAuditClose) g_audit.channels[i] = 0;
      return static_cast<uint32_t>(i);
    }
  }
  return h;
}

// The file-name filter: true when the line is to be written.
// The start-up and shutdown lines always pass, whether or not a file is
// watched yet.
bool passes_filter(int option, int32_t im_errno, uint32_t h, const char* text) {
  if (option == kAuditInit || option == kAuditShutdown) return true;
  uint32_t* w = g_audit.watched;
  if (w[1] != 0 || (w[0] != 0 && option != kAuditOpen)) {
    bool watched = h != 0 && (h == w[0] || h == w[1]);
    if (!watched) return false;
    if (option == kAuditClose && watched) {
      if (h == w[0]) {
        w[0] = 0;
      } else {
        w[1] = 0;
      }
    }
    return true;
  }
  if (g_audit.has_filter) {
    if (option != kAuditOpen || im_errno != 0 || text == nullptr ||
        std::strstr(text, g_audit.filter.c_str()) == nullptr) {
      return false;
    }
    if (w[0] == 0) {
      w[0] = h;
    } else {
      w[1] = h;
    }
  }
  return true;
}

void write_line(std::FILE* stream, int option, int32_t im_errno, const void* handle,
                const char* text, const AuditValues& v, uint32_t kept) {
  const uint32_t h = low32(handle);
  if (!passes_filter(option, im_errno, h, text)) return;

  const bool internal = (g_audit.flags & kAuditFlagInternal) != 0;
  uint32_t shown = h;
  if (internal) {
    if (option == kAuditReleasedLock) return;
    shown = internal_number(option, h);
  }

  std::string line;
  if (!internal) {
    platform::LocalTime t = now();
    appendf(&line, "%02d:%02d:%02d.%03d ", t.hour, t.minute, t.second, t.millisecond);
  }
  const char* s = text != nullptr ? text : "";
  const std::string rfa =
      internal ? std::string("<undef>") : audit_rfa_text(v.position, v.qualifier);

  switch (option) {
    case kAuditOpen:
      if (!internal && im_errno == 0 && v.has_file_handles) {
        appendf(&line, "(%d:%d) = ", static_cast<int>(v.index_handle),
                static_cast<int>(v.data_handle));
      }
      appendf(&line, "open(%x, %s, '%s')", shown, audit_open_letters(v.mode).c_str(), s);
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kOpen, v.mode);
      break;
    case kAuditDelete:
      appendf(&line, "delete(%x, rfa= %s)", shown, rfa.c_str());
      append_errors(&line, im_errno, kept);
      break;
    case kAuditRead:
      appendf(&line, "read(%x, '%s', rfa= %s, %x, Krf/recno= %d)", shown,
              record_text(v, internal).c_str(), rfa.c_str(), v.mode, v.key);
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kRecord, v.mode);
      if ((v.mode & 0x401E01) == 0) line.append(" implicit IM_MEQ ");
      break;
    case kAuditFind:
      appendf(&line, "find(%x, rfa= %s, %x, Krf/recno= %d)", shown, rfa.c_str(), v.mode, v.key);
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kRecord, v.mode);
      if ((v.mode & 0x1E01) == 0) line.append(" implicit IM_MEQ ");
      break;
    case kAuditReads:
    case kAuditWrite:
    case kAuditStore:
    case kAuditUpdate:
    case kAuditWrites: {
      const char* name = option == kAuditReads    ? "reads"
                         : option == kAuditWrite  ? "write"
                         : option == kAuditStore  ? "store"
                         : option == kAuditUpdate ? "update"
                                                  : "writes";
      appendf(&line, "%s(%x, '%s', rfa= %s, %x)", name, shown, record_text(v, internal).c_str(),
              rfa.c_str(), v.mode);
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kRecord, v.mode);
      break;
    }
    case kAuditFinds:
      appendf(&line, "finds(%x, rfa= %s, %x)", shown, rfa.c_str(), v.mode);
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kRecord, v.mode);
      break;
    case kAuditClose:
      if (internal) {
        appendf(&line, "close(%x) modes= %d", shown, static_cast<int>(v.mode));
      } else {
        appendf(&line, "close(%x %x)", shown, v.mode);
      }
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kClose, v.mode);
      break;
    case kAuditUnlock:
      appendf(&line, "unlock(%x, rfa= %s)", shown, rfa.c_str());
      break;
    case kAuditCreated:
      appendf(&line, "created %s ", s);
      append_errors(&line, im_errno, kept);
      append_modes(&line, AuditModeTable::kOpen, v.mode);
      break;
    case kAuditRenamed:
      appendf(&line, "renamed %s sts= %d", s, v.key);
      append_errors(&line, im_errno, kept);
      break;
    case kAuditRemoved:
      appendf(&line, "removed %s sts= %d", s, v.key);
      break;
    case kAuditInit:
      std::memset(g_audit.channels, 0, sizeof g_audit.channels);
      line.append("ismgr_init");
      break;
    case kAuditShutdown:
      line.append("ismgr_shutdown");
      break;
    case kAuditForms:
      appendf(&line, "ismgr_forms(%x)", shown);
      append_errors(&line, im_errno, kept);
      break;
    case kAuditAccept:
      appendf(&line, "ismgr_accept(%x) ", shown);
      append_errors(&line, im_errno, kept);
      break;
    case kAuditFlush:
      appendf(&line, "ismgr_flush(%x)", shown);
      break;
    case kAuditPutstr:
      appendf(&line, "ismgr_putstr(%x)", shown);
      append_errors(&line, im_errno, kept);
      break;
    case kAuditLpque:
      appendf(&line, "ismgr_lpque %s", s);
      append_errors(&line, im_errno, kept);
      break;
    case kAuditText:
      line.append(s);
      break;
    case kAuditFree:
      appendf(&line, "free(%x)", shown);
      break;
    case kAuditReleasedLock:
      appendf(&line, "(next op) released lock at %" PRIu64, v.position);
      break;
    case kAuditGetrfa:
      appendf(&line, "getrfa(%x, rfa= %s)", shown, rfa.c_str());
      break;
    case kAuditPosrfa:
      appendf(&line, "posrfa(%x, rfa= %s)", shown, rfa.c_str());
      break;
    case kAuditSetkrf:
      appendf(&line, "setkrf(%x, Krf= %d)", shown, v.key);
      if (im_errno != 0) appendf(&line, " im_errno= %d ", im_errno);
      break;
    default:
      appendf(&line, "Unknown log option %d", option);
      break;
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
  if (g_audit.flush) std::fflush(stream);
}

}  // namespace

std::FILE* audit_setup() {
  AuditState& a = g_audit;
  if (a.disabled) return nullptr;
  std::FILE* stream = nullptr;
  if (const char* name = platform::get_env("ISMGR_AUDIT")) {
    // The internal form appends to the log an earlier thread started.
    stream = std::fopen(name, (a.flags & kAuditFlagInternal) != 0 ? "a" : "w");
    if (stream == nullptr) return nullptr;
  } else if (const char* prefix = platform::get_env("ISMGR_AUDIT_SRV")) {
    platform::LocalTime t = now();
    std::string name;
    appendf(&name, "%s_%d_%d%d%d%d", prefix, static_cast<int>(platform::thread_id()), t.hour,
            t.minute, t.second, t.millisecond);
    stream = std::fopen(name.c_str(), "a");
  } else {
    a.disabled = true;
    return nullptr;
  }
  a.configured = true;
  if (stream == nullptr) return nullptr;

  a.level = 0;
  a.flush = false;
  a.flags = 0;
  if (env_set("ISMGR_AUDIT_MODE")) a.level = 1;
  if (env_set("ISMGR_AUDIT_FULL") || env_set("ISMGR2_FULL")) a.level = 2;
  if (env_set("ISMGR_AUDIT_FLUSH")) a.flush = true;
  if (env_set("ISMGR_AUDIT_ROUTINE")) a.flags |= kAuditFlagRoutine;
  if (env_set("ISMGR_AUDIT_LOCK")) a.flags |= kAuditFlagLock;
  if (const char* internal = platform::get_env("ISMGR_AUDIT_INTERNAL")) {
    if (a.level == 0) a.level = 1;
    if (c_atoi(internal) != 0) a.flags |= kAuditFlagInternal;
  }
  if ((a.flags & kAuditFlagInternal) == 0) {
    std::fprintf(stream, "Logging started.. Level = %d\n", a.level);
  }
  const char* filter = platform::get_env("ISMGR_AUDIT_FILENAME");
  a.has_filter = filter != nullptr;
  a.filter = filter != nullptr ? filter : "";
  return stream;
}

void audit_log(int option, int32_t im_errno, const void* handle, const char* text,
               const AuditValues& values) {
  if (!g_audit.configured) return;
  std::FILE* stream = thread_audit_stream();
  if (stream == nullptr) return;
  const uint32_t kept = platform::last_error();
  const int kept_errno = errno;
  write_line(stream, option, im_errno, handle, text, values, kept);
  errno = kept_errno;
  platform::set_last_error(kept);
}

void audit_text(const char* text) {
  audit_log(kAuditText, 0, nullptr, text);
}

void audit_printf(const char* format, ...) {
  if (!audit_active()) return;
  const uint32_t kept = platform::last_error();
  std::string text;
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    text.assign(big.data(), static_cast<size_t>(n));
  }
  platform::set_last_error(kept);
  audit_text(text.c_str());
}

void audit_raw(const char* text) {
  std::FILE* stream = thread_audit_stream();
  if (stream == nullptr || text == nullptr) return;
  const uint32_t kept = platform::last_error();
  std::fputs(text, stream);
  if (g_audit.flush) std::fflush(stream);
  platform::set_last_error(kept);
}

bool audit_configured() {
  return g_audit.configured;
}

bool audit_active() {
  return g_audit.configured && thread_audit_stream() != nullptr;
}

int audit_level() {
  return g_audit.level;
}

uint32_t audit_flags() {
  return g_audit.flags;
}

bool audit_lock_enabled() {
  return g_audit.configured && (g_audit.flags & kAuditFlagLock) != 0;
}

std::string audit_rfa_text(uint64_t position, uint32_t qualifier) {
  if (position == 0) return "<undef>";
  std::string text;
  appendf(&text, "%" PRIu64 "-%u", position, qualifier);
  return text;
}

std::string audit_open_letters(uint32_t mode) {
  // One letter for the direction (assigned as a character: g++ 12 at -O3
  // misreports string-literal assignment here).
  char direction = '?';
  if (mode & 0x8) {
    direction = 'A';
  } else if (mode & 0x1) {
    direction = 'U';
  } else if (mode & 0x2) {
    direction = 'I';
  } else if (mode & 0x4) {
    direction = 'O';
  }
  std::string letters(1, direction);
  if (mode & 0x100) {
    letters += ":S";
  } else if (mode & 0x80) {
    letters += ":R";
  } else if (mode & 0x40) {
    letters += ":I";
  } else if (mode & 0x200) {
    letters += ":B";
  } else if (mode & 0x8000000) {
    letters += ":P";
  }
  return letters;
}

std::string audit_mode_names(AuditModeTable table, uint32_t mode) {
  if (mode == 0) return std::string();
  const ModeName* begin = kRecordNames;
  size_t count = std::size(kRecordNames);
  if (table == AuditModeTable::kOpen) {
    begin = kOpenNames;
    count = std::size(kOpenNames);
  } else if (table == AuditModeTable::kClose) {
    begin = kCloseNames;
    count = std::size(kCloseNames);
  }
  std::string text = " Modes= ";
  for (size_t i = 0; i < count; ++i) {
    if (mode & begin[i].bit) {
      text += begin[i].name;
      text += " |";
    }
  }
  if (text.back() == '|') text.pop_back();
  return text;
}

void reset_audit_for_test() {
  g_audit = AuditState();
}

void set_audit_clock_for_test(AuditClock clock) {
  g_clock = clock;
}

int audit_channel_number_for_test(const void* handle) {
  uint32_t h = low32(handle);
  if (h == 0) return 0;
  for (int i = 1; i < kAuditChannelNumbers; ++i) {
    if (g_audit.channels[i] == h) return i;
  }
  return 0;
}

}  // namespace ismgr

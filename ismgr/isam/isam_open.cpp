// The ISAM open. Every failure unwinds (StatusError) to the boundary in
// isam_open(), which closes and frees what was acquired and leaves the
// status code in the status block and the error of the failing system call
// in errno and the thread's last OS error.
#include "ismgr/isam/isam_open.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/fileio/names.h"
#include "ismgr/isam/isam_io.h"
#include "ismgr/isam/isam_names.h"
#include "ismgr/isam/open_creation.h"
#include "ismgr/runtime/audit.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

using platform::Handle;
using platform::kInvalidHandle;

int g_ignore_is2 = -1;  // process-wide: -1 not read yet
IsamCreateFn g_create = nullptr;

// A failure that is not the system's: errno and the OS error are cleared so
// that the status refinement leaves the status alone.
[[noreturn]] void fail(int status) {
  errno = 0;
  platform::set_last_error(0);
  raise_status(status);
}

// A failure of the system call just made: its errors stay for the refinement.
[[noreturn]] void fail_os(int status) {
  raise_status(status);
}

void detail(const char* message) {
  if (message != nullptr) report_detail(nullptr, kDetailMessage, message, 0);
}

bool env_set(const char* name) {
  return ismgr_getenv(name) != nullptr;
}

void set_current_name(ismgr_control* ctl, const std::string& name) {
  if (ctl->current_name == nullptr) return;
  size_t n = std::min(name.size(), kCurrentNameSize - 1);
  std::memcpy(ctl->current_name, name.data(), n);
  ctl->current_name[n] = '\0';
}

// What an open holds until it returns: released together on failure.
struct OpenResources {
  Handle index = kInvalidHandle;
  Handle data = kInvalidHandle;
  std::unique_ptr<IsamFileControl> fc;
  std::unique_ptr<BlockCache> cache;

  ~OpenResources() {
    cache.reset();
    isam_file_close(index);
    isam_file_close(data);
  }
};

int data_share(uint32_t mode) {
  if (mode & IM_EXRW) return kIsamShareDenyReadWrite;
  if (mode & IM_EXW) return kIsamShareDenyWrite;
  return kIsamShareNone;
}

// Size of the header of a free data record: the RFA width plus 1, plus 2
// with sized record headers, plus 6 with static vectoring and sized headers
// or with change tracking without sized headers.
uint32_t free_record_header_size(const IsamFileControl& fc) {
  const IsamHeader& h = fc.header;
  uint32_t size = static_cast<uint32_t>(fc.rfa_width) + 1;
  const bool sized = (h.file_flags & kFileSizedHeaders) != 0;
  if (sized) size += 2;
  const bool vectoring = (h.file_flags & kFileStaticVectoring) != 0;
  const bool tracking = (h.file_flags2 & kFlags2ChangeTracking) != 0;
  if ((vectoring && sized) || (tracking && !sized)) size += 6;
  return size;
}

// The preallocation check: a logical end of file that lies at or beyond the
// physical end, or a data end that is not followed by a proper free record
// reaching the file's end, marks the allocation bad.
bool allocation_bad(const IsamFileControl& fc, Handle data, Handle index) {
  const IsamHeader& h = fc.header;
  if (data != kInvalidHandle) {
    const int64_t data_size = isam_file_size(data);
    const uint64_t leof = data_leof_bytes(fc.counters, h);
    if (leof != 0) {
      if (data_size < 0 || leof >= static_cast<uint64_t>(data_size)) return true;
      const uint32_t header = free_record_header_size(fc);
      if (static_cast<uint64_t>(data_size) - leof >= header) {
        uint8_t bytes[32] = {};
        if (header > sizeof bytes) return true;
        if (isam_read_at(data, bytes, header, static_cast<int64_t>(leof)) !=
            static_cast<int64_t>(header)) {
          return true;
        }
        uint8_t flags_byte = bytes[0];
        if (h.file_flags & kFileSizedHeaders) {
          if (get_u16(bytes) != header) return true;
          flags_byte = bytes[2];
        }
        if ((flags_byte & 0x80) == 0) return true;
        uint64_t address = 0;
        for (int i = fc.rfa_width - 1; i >= 0; --i) {
          address = (address << 8) | bytes[header - static_cast<uint32_t>(fc.rfa_width) + i];
        }
        if (address != static_cast<uint64_t>(data_size)) return true;
      }
    }
  }
  if (index != kInvalidHandle) {
    const int64_t index_size = isam_file_size(index);
    const uint64_t leof = index_leof_bytes(fc.counters, h);
    if (leof != 0 && (index_size < 0 || leof >= static_cast<uint64_t>(index_size))) return true;
  }
  return false;
}

// The first bytes of a file, read by its open. The header page, the dynamic
// header and a prefixed file text nearly always lie within them, so the
// reads of the open are served from here without a system call.
constexpr uint32_t kFirstReadSize = 8192;

struct FirstBytes {
  uint8_t bytes[kFirstReadSize];  // the first `got` bytes are valid
  uint32_t got = 0;

  // The bytes were read up to the end of the file: its size (when read).
  bool whole_file() const { return got < kFirstReadSize; }
  // Copies the bytes at `position` when they were read, or when the file
  // ended before them; the count copied, or -1 when a read is needed.
  int64_t take(void* out, uint32_t count, int64_t position) const {
    if (position < 0) return -1;
    const uint64_t from = static_cast<uint64_t>(position);
    if (from + count > got && !whole_file()) return -1;
    if (from >= got) return 0;
    const uint64_t n = std::min<uint64_t>(count, got - from);
    std::memcpy(out, bytes + from, n);
    return static_cast<int64_t>(n);
  }
};

// Where a handle's file pointer stands as far as the open knows (-1: not
// known). A read at the position the pointer already has needs no seek
// first: a fresh handle stands at 0, and after the header page of a
// revision-6 file the pointer stands at its dynamic header. Positioned reads
// of bytes the open has read already (`first`) are served from them.
struct FilePointer {
  int64_t at = 0;
  const FirstBytes* first = nullptr;

  int64_t read(Handle h, void* buffer, uint32_t count) {
    const int64_t got = isam_read(h, buffer, count);
    at = got >= 0 && at >= 0 ? at + got : -1;
    return got;
  }
  int64_t read_at(Handle h, void* buffer, uint32_t count, int64_t position) {
    if (first != nullptr) {
      const int64_t got = first->take(buffer, count, position);
      if (got >= 0) return got;
      return isam_pread(h, buffer, count, position);
    }
    const int64_t got =
        at == position ? isam_read(h, buffer, count) : isam_read_at(h, buffer, count, position);
    at = got >= 0 ? position + got : -1;
    return got;
  }
};

bool grow(WorkBuffer& buffer, uint64_t needed) {
  return buffer.capacity() >= needed || buffer.obtain_fresh(needed);
}

IsamFileControl* open_file(ismgr_control* ctl, ismgr_status* st, const char* name_in, uint32_t mode,
                           const char* description, int32_t flags, OpenResources& r) {
  const bool has_description = description != nullptr && description[0] != '\0';

  // Mode checks.
  const bool caller_update = (mode & IM_UPDATE) != 0;
  if (mode & IM_OUTPUT) {
    if (!has_description) fail(9);
    mode = (mode | IM_UPDATE) & ~static_cast<uint32_t>(IM_OUTPUT);
  } else if (mode & IM_APPEND) {
    fail(9);
  }
  const bool exclusive = (mode & (IM_EXRW | IM_EXW)) != 0;
  const bool update = (mode & IM_UPDATE) != 0;
  const bool write_through = caller_update && !exclusive && option_set(kOptionWriteThrough);
  const bool temp = (mode & IM_TEMP) != 0;
  const bool data_only = !temp && (flags & kOpenFlagDataFileOnly) != 0;

  // Creation.
  std::string name = name_in != nullptr ? name_in : "";
  if (has_description) {
    std::string buffer = name;
    std::string failed_name;
    if (g_create == nullptr) fail(kStatusCannotCreate);
    if (int status = g_create(ctl, description, &buffer, mode & IM_SPRCED, &failed_name)) {
      if (!failed_name.empty()) set_current_name(ctl, failed_name);
      fail_os(status);
    }
    // The file to open is the caller's name, or the name the description
    // gave, without the creation options that may follow it.
    if (name.empty()) name = buffer;
    name.resize(std::min(name.size(), name.find(',')));
    while (!name.empty() && name.back() == ' ') name.pop_back();
  }

  // Name resolution.
  std::string index_name;
  if (int status = isam_expand_name(ctl, name, flags, &index_name)) fail(status);
  if (!last_component_has_dot(index_name)) {
    set_current_name(ctl, index_name + ".");
    fail(kStatusBadFileSpec);
  }
  std::string data_name = data_file_name(index_name);
  set_current_name(ctl, index_name);

  // Index and data file, header page.
  std::vector<uint8_t> page(kHeaderPageReadSize, 0);
  int64_t got = 0;
  FilePointer index_at;
  FilePointer data_at;
  FirstBytes index_first;
  FirstBytes data_first;
  // The data file goes back to 0 after its first page has been checked. The
  // seek waits: a positioned read of the data file makes it moot.
  bool rewind_data = false;
  uint16_t expected = kMagicIndex;
  uint32_t shift = 0;
  if (data_only) {
    r.data = isam_file_open(data_name, update, kIsamShareNone, write_through);
    if (r.data == kInvalidHandle) {
      set_current_name(ctl, data_name);
      fail_os(kStatusCannotOpenData);
    }
    got = data_at.read(r.data, page.data(), kHeaderPageReadSize);
    if (got < 0) fail_os(kStatusReadFailure);
    if (is_work_file(page.data(), static_cast<size_t>(got))) {
      shift = kWorkFileShift;
      std::string target;
      const bool named = work_file_target(page.data(), static_cast<size_t>(got), &target);
      isam_file_close(r.data);
      r.data = kInvalidHandle;
      std::string opened = target;
      data_at.at = 0;
      if (named) r.data = isam_file_open(target, update, kIsamShareNone, write_through);
      if (named && r.data == kInvalidHandle) {
        opened = last_name_component(target);
        if (!opened.empty()) r.data = isam_file_open(opened, update, kIsamShareNone, write_through);
      }
      if (r.data == kInvalidHandle) {
        report_detail_text(nullptr, kDetailKeywordSpecified, "Cannot open in-progress work file %s",
                           target.c_str());
        set_current_name(ctl, data_name);
        if (!named) fail(kStatusCannotOpenData);
        fail_os(kStatusCannotOpenData);
      }
      data_name = opened.substr(0, kMaxIsamName);
      std::fill(page.begin(), page.end(), 0);
      got = data_at.read_at(r.data, page.data(), kHeaderPageReadSize, shift);
      if (got < 0) fail_os(kStatusReadFailure);
    }
    expected = kMagicData;
  } else if (temp) {
    if (st->handle != kNoHandle) {
      if (st->handle < 0 || st->handle > INT32_MAX) fail(kStatusCannotOpenIndex);
      r.index = static_cast<Handle>(st->handle);
      st->handle = kNoHandle;
      if (isam_seek(r.index, 0) < 0) fail_os(kStatusCannotOpenIndex);
    } else {
      r.index = isam_file_open(index_name, update, kIsamShareDenyReadWrite, write_through);
      if (r.index == kInvalidHandle) fail_os(kStatusCannotOpenIndex);
    }
    got = index_at.read(r.index, page.data(), kHeaderPageReadSize);
    if (got < 0) fail_os(kStatusReadFailure);
    expected = kMagicTempIndex;
  } else {
    if (g_ignore_is2 < 0) g_ignore_is2 = env_set("IGNIS2") ? 1 : 0;
    if (g_ignore_is2 == 0 && isam_file_exists(is2_marker_name(index_name))) {
      detail("Cannot open file with existing .is2");
      fail(kStatusCannotOpenIndex);
    }
    // Each file is read as it is opened; its file pointer stays at 0.
    r.index = isam_file_open_reading(index_name, update, kIsamShareNone, write_through,
                                     index_first.bytes, kFirstReadSize, &index_first.got);
    if (r.index == kInvalidHandle) fail_os(kStatusCannotOpenIndex);
    // Nothing read (an empty file, or a read that failed and fails again
    // here): the file is read as without the first read.
    if (index_first.got > 0) {
      index_at.first = &index_first;
      got = index_first.take(page.data(), kHeaderPageReadSize, 0);
    } else {
      got = index_at.read(r.index, page.data(), kHeaderPageReadSize);
      if (got < 0) fail_os(kStatusReadFailure);
    }
    r.data = isam_file_open_reading(data_name, update, data_share(mode), write_through,
                                    data_first.bytes, kFirstReadSize, &data_first.got);
    if (r.data != kInvalidHandle) {
      const uint8_t* first = data_first.bytes;
      int64_t data_got = std::min<int64_t>(data_first.got, kHeaderPageReadSize);
      if (data_first.got > 0) {
        data_at.first = &data_first;
      } else {
        data_got = data_at.read(r.data, data_first.bytes, kHeaderPageReadSize);
        if (data_got < 0) fail_os(kStatusReadFailure);
        rewind_data = true;
      }
      const uint16_t word = data_got >= 2 ? get_u16(first) : 0;
      if (word == kMagicWorkFile) {
        detail("In-progress work file exists");
        detail("You must re-run fmaint");
        fail(kStatusSortWorkFile);
      }
      const uint16_t index_magic = got >= 2 ? get_u16(page.data()) : 0;
      if (word != kMagicData && index_magic != kMagicOtherIsamA &&
          index_magic != kMagicOtherIsamB) {
        fail(kStatusCannotOpenData);
      }
    }
  }

  // Missing data file.
  if (!temp && r.data == kInvalidHandle) {
    const uint16_t magic = got >= 2 ? get_u16(page.data()) : 0;
    if (!data_only && magic != expected) fail(kStatusNotIsam);
    fail_os(kStatusCannotOpenData);
  }

  // Header check.
  const char* message = nullptr;
  if (int status = check_header_page(page.data(), static_cast<size_t>(got), expected, &message)) {
    detail(message);
    fail(status);
  }

  // A data-file-only open goes on with the data file's proper sharing.
  if (data_only) {
    isam_file_close(r.data);
    r.data = isam_file_open(data_name, update, data_share(mode), write_through);
    if (r.data == kInvalidHandle) {
      set_current_name(ctl, data_name);
      fail_os(kStatusCannotOpenData);
    }
    data_at.at = 0;
  }
  const Handle header_file = data_only ? r.data : r.index;
  FilePointer& header_at = data_only ? data_at : index_at;
  const std::string& header_name = data_only ? data_name : index_name;

  // Caching.
  const uint8_t revision = page[2];
  if (!data_only) {
    if (revision >= 3 || (mode & IM_EXRW)) {
      mode |= IM_CACHE;
    } else if (mode & IM_CACHE) {
      fail(kStatusNoCaching);
    }
  }

  // The rest of a header page longer than 4096 bytes.
  const size_t extra = header_extra_bytes(page.data(), page.size());
  if (extra > 0) {
    page.resize(kHeaderPageReadSize + extra, 0);
    const int64_t n = header_at.read_at(header_file, page.data() + kHeaderPageReadSize,
                                        static_cast<uint32_t>(extra), kHeaderPageReadSize + shift);
    if (n < 0) fail_os(kStatusReadFailure);
    if (static_cast<size_t>(n) != extra) fail(kStatusReadFailure);
  }

  r.fc = std::make_unique<IsamFileControl>();
  IsamFileControl& fc = *r.fc;
  if (int status = build_file_control(page.data(), page.size(), &fc, &message)) {
    detail(message);
    fail(status);
  }
  const IsamHeader& h = fc.header;

  // Dynamic header.
  if (int status = check_dynamic_size(fc)) fail(status);
  std::vector<uint8_t> dynamic(h.dynamic_size, 0);
  if (h.dynamic_size > 0) {
    const int64_t n = header_at.read_at(header_file, dynamic.data(), h.dynamic_size,
                                        static_cast<int64_t>(h.dynamic_offset) + shift);
    if (n < 0) fail_os(kStatusReadFailure);
    if (n != h.dynamic_size) fail(kStatusReadFailure);
  }
  if (int status = load_dynamic_header(dynamic.data(), dynamic.size(), &fc)) fail(status);

  // File text. A shifted work file holds the data file's bytes 0x8000
  // further on, its file text included.
  if (r.data != kInvalidHandle && has_file_text(fc)) {
    const uint64_t location = file_text_location(fc);
    uint8_t prefix[kFileTextPrefixSize] = {};
    int64_t n =
        data_at.read_at(r.data, prefix, sizeof prefix, static_cast<int64_t>(location + shift));
    rewind_data = false;
    const size_t prefix_got = n > 0 ? static_cast<size_t>(n) : 0;
    // The text must lie within the data file. The bytes read with the open
    // exist, so a text among them needs no look at the file's size.
    int status = 1;
    if (data_at.first != nullptr && data_first.got > shift) {
      status = resolve_file_text(&fc, prefix, prefix_got, data_first.got - shift, &message);
    }
    if (status != 0) {
      const int64_t size = isam_file_size(r.data);
      const uint64_t data_size =
          size > static_cast<int64_t>(shift) ? static_cast<uint64_t>(size) - shift : 0;
      status = resolve_file_text(&fc, prefix, prefix_got, data_size, &message);
    }
    if (status != 0) {
      detail(message);
      fail(status);
    }
    if (fc.text_location != 0) fc.text_location += shift;
    const uint64_t text_at =
        fc.text_location + ((h.file_flags2 & kFlags2PrefixedText) ? kFileTextPrefixSize : 0);
    if (fc.text_location != 0 && fc.text_length != 0 && data_at.first != nullptr &&
        text_at + fc.text_length <= data_first.got) {
      fc.held_text.assign(reinterpret_cast<const char*>(data_first.bytes + text_at),
                          fc.text_length);
      fc.held_text_at = text_at;
    }
  }

  // Work buffers of the status block.
  uint64_t record_space = static_cast<uint64_t>(fc.record_buffer_size);
  if (h.file_flags2 & kFlags2Prealloc) record_space += free_record_header_size(fc);
  if (!grow(st->record_buffer, record_space)) fail(kStatusNoMemory);
  if (env_set("NO_BINSCAN")) fc.search_capacity = 0;
  if (!grow(st->block_buffer, page_bytes(h) + 4ull * fc.search_capacity)) fail(kStatusNoMemory);
  fc.block_work_buffer = &st->block_buffer;
  fc.record_work_buffer = &st->record_buffer;

  // Network rules.
  if (update || (h.file_flags & kFileNetworkEncrypt)) {
    if (isam_on_network(data_name)) fc.state |= kStateNetwork;
  }
  if ((h.file_flags & kFileNetworkEncrypt) && (fc.state & kStateNetwork) &&
      (flags & kOpenFlagNetworkOk) == 0) {
    fail(92);
  }

  fc.state |= kStateOpen;
  fc.index_handle = r.index;
  fc.data_handle = r.data;
  if ((flags & kOpenFlagKeep40000) == 0) fc.state |= kStateNoStatusFlag80;

  // A timestamp autokey cannot be kept consistent by clocks of several
  // machines sharing the file.
  if (autokey_summary_key(fc.autokey_summary, kAutokeyTimestampShift) >= 0 && update &&
      !exclusive && (fc.state & kStateNetwork) && !env_set("ISMGR_AUDIT_INTERNAL")) {
    fail(144);
  }

  if (is_tbyte(h)) {
    if (!isam_large_file_probe(header_file, header_name)) {
      detail("Terabyte files not supported on this platform");
      fail(kStatusCannotOpenIndex);
    }
    header_at.at = 0;  // the probe moves back to 0
  }

  // Locking.
  fc.control = ctl;
  if (exclusive) fc.state |= kStateNoLock;
  if (mode & IM_EXW) fc.state |= kStateExw;
  if (mode & IM_EXRW) fc.state |= kStateExrw;
  if (update && ((mode & IM_NOLOCK) == 0 || exclusive)) fc.state |= kStateLocking;
  if (mode & IM_WAIT) fc.state |= kStateWait;
  if (temp) fc.state |= kStateTemp;
  if (update) fc.state |= kStateUpdate;
  fc.lock_list = nullptr;
  if ((fc.state & kStateNoLock) == 0 && (mode & IM_NOLOCK)) {
    if (env_set("ENABLE_NOLOCK")) {
      fc.state |= kStateNoLock;
    } else {
      audit_printf("open(%x) IM_NOLOCK mode ignored to protect file integrity",
                   static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&fc)));
    }
  }

  // Preallocation check.
  if (h.file_flags2 & kFlags2Prealloc) {
    if (allocation_bad(fc, r.data, r.index) && !env_set("IGNORE_BADALLOC")) {
      fc.bad_allocation = true;
      fc.state &= ~kStateUpdate;
    }
    if (r.data != kInvalidHandle) data_at.at = isam_seek(r.data, 0);
    if (r.index != kInvalidHandle) index_at.at = isam_seek(r.index, 0);
    rewind_data = false;
  }
  if (rewind_data && data_at.at != 0 && isam_seek(r.data, 0) < 0) fail_os(kStatusReadFailure);

  // Index cache.
  const CacheSettings& settings = cache_settings();
  if ((mode & IM_CACHE) && settings.index_caching && r.index != kInvalidHandle) {
    const uint32_t computed = cache_computed_maximum((mode & IM_INPUT) != 0, fc.depths.data(),
                                                     static_cast<uint32_t>(fc.depths.size()));
    const bool size_from_system = !((mode & IM_EXRW) && !option_set(kOptionWriteThrough));
    const uint32_t width = is_tbyte(h) ? (is_address48(h) ? 48 : 40) : 0;
    r.cache = BlockCache::create(r.index, settings.fixed_maximum, computed, size_from_system,
                                 page_bytes(h), width);
    if (!r.cache) fail(kStatusNoMemory);
    if (fc.free_list.record_count == 0 && update &&
        ((flags & kOpenFlagDataCache) || settings.data_caching) && r.data != kInvalidHandle) {
      // Without the write-behind buffer the file works the same, only slower.
      r.cache->attach_data_buffer(r.data, data_cache_buffers(),
                                  static_cast<uint32_t>(fc.record_buffer_size), fc.data_start);
    }
    if (!exclusive) r.cache->set_shared_file(true);
  }

  if ((mode & IM_SEQUENTIAL) || (fc.state & kStateNoLock)) fc.state |= kStateSequential;

  // Hand everything over to the control block.
  fc.cache = r.cache.release();
  r.index = kInvalidHandle;
  r.data = kInvalidHandle;
  return r.fc.release();
}

}  // namespace

IsamFileControl* isam_open(ismgr_control* ctl, const char* name, uint32_t mode,
                           const char* description) {
  if (ctl == nullptr) return nullptr;
  if (ctl->status == nullptr) ctl->status = default_status();
  ismgr_status* st = ctl->status;
  if (audit_active() && ctl != existing_context()) audit_text("Mismatched ISMGR_CONTROL");
  const int32_t flags = st->open_flags;
  st->open_flags = 0;
  // A stale error of an earlier call must not refine this open's status.
  errno = 0;
  platform::set_last_error(0);

  int code = 0;
  {
    OpenResources resources;
    try {
      IsamFileControl* fc = open_file(ctl, st, name, mode, description, flags, resources);
      st->code = 0;
      return fc;
    } catch (const StatusError& e) {
      code = e.code();
    } catch (const std::bad_alloc&) {
      code = kStatusNoMemory;
      errno = 0;
      platform::set_last_error(0);
    }
    // Closing what was opened must not change the error kept for the caller.
    const int kept_errno = errno;
    const uint32_t kept_error = platform::last_error();
    resources.fc.reset();
    resources.cache.reset();
    isam_file_close(resources.index);
    isam_file_close(resources.data);
    resources.index = kInvalidHandle;
    resources.data = kInvalidHandle;
    errno = kept_errno;
    platform::set_last_error(kept_error);
  }
  st->code = code;
  return nullptr;
}

void isam_discard(IsamFileControl* fc) {
  if (fc == nullptr) return;
  delete fc->cache;
  fc->cache = nullptr;
  isam_file_close(fc->index_handle);
  isam_file_close(fc->data_handle);
  fc->index_handle = kInvalidHandle;
  fc->data_handle = kInvalidHandle;
  fc->header.magic = 0;
  delete fc;
}

int isam_expand_name(const ismgr_control* ctl, const std::string& name, int32_t flags,
                     std::string* index_name) {
  const ismgr_config* config =
      ctl != nullptr && ctl->config != nullptr ? ctl->config : process_config();
  NameRequest request;
  request.default_name =
      config != nullptr && config->default_ext_isam != nullptr ? config->default_ext_isam : ".ISM";
  request.type = kNameDefault;
  request.search = true;
  request.no_case = (flags & kOpenFlagExpansion) != 0;
  return expand_file_name(name, request, index_name);
}

IsamCreateFn set_isam_create(IsamCreateFn create) {
  IsamCreateFn previous = g_create;
  g_create = create;
  return previous;
}

bool isam_control_valid(const IsamFileControl* fc) {
  if (file_control_valid(fc)) return true;
  return fc != nullptr && fc->header.magic == kMagicIndex && (fc->state & kStateDataHandleMoved) &&
         fc->index_handle != kInvalidHandle && fc->data_handle == kInvalidHandle;
}

bool isam_move_data_handle(IsamFileControl* main, IsamFileControl* temp) {
  if (main == nullptr || temp == nullptr || main == temp) return false;
  if (!file_control_valid(main) || main->header.magic != kMagicIndex) return false;
  if (!file_control_valid(temp) || temp->header.magic != kMagicTempIndex) return false;
  if (temp->data_handle != kInvalidHandle) return false;
  temp->data_handle = main->data_handle;
  main->data_handle = kInvalidHandle;
  main->state |= kStateDataHandleMoved;
  return true;
}

void reset_isam_open_for_test() {
  g_ignore_is2 = -1;
}

}  // namespace ismgr

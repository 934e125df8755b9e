// qinfo: answers questions about an ISAM file from the shell, through the
// file information query and the key parameter queries.
//
//   qinfo FILE ITEM [KEY [SEGMENT]]
//   qinfo -k FILE KEY | -s FILE | -n FILE NAME | -p FILE START LENGTH
//
// A host of the public interface for start-up, the queries, the close, the
// status texts and the detail hook. The file is opened as qdesc opens it
// (open_for_description): for input, without record locking, and through
// its data file alone when the index cannot be opened; that open, which the
// public open does not offer, is the layer's own.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/api/api_internal.h"
#include "ismgr/ismgr.h"
#include "ismgr/platform/terminal.h"
#include "ismgr/runtime/info_keywords.h"
#include "ismgr/runtime/status.h"
#include "tool/open_description.h"
#include "tool/out.h"
#include "tool/qinfo_args.h"
#include "tool/qinfo_details.h"

namespace {

using ismgr::tool::QinfoArgs;
using ismgr::tool::QinfoMode;

int report(int code, const std::string& name) {
  std::fprintf(stderr, "\n%%QINFO-E-%02d: ", code);
  const char* message = ismgr_status_text(code);
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "Unknown error code");
  std::fprintf(stderr, "%%QINFO-I-01: File specified was %s\n", name.c_str());
  return 1;
}

// What an item of the information query gives.
enum class ItemKind { kNumber, kText, kBoth };

ItemKind item_kind(int item) {
  switch (item) {
    case ismgr::kInfoFopts:
      return ItemKind::kBoth;
    case ismgr::kInfoInitAll:
    case ismgr::kInfoFilename:
    case ismgr::kInfoKtype:
    case ismgr::kInfoNull:
    case ismgr::kInfoNullvalue:
    case ismgr::kInfoKeyname:
    case ismgr::kInfoString:
    case ismgr::kInfoCreatedate:
    case ismgr::kInfoCleardate:
    case ismgr::kInfoReindexdate:
    case ismgr::kInfoVerifydate:
    case ismgr::kInfoPutnote:
      return ItemKind::kText;
    default:
      return ItemKind::kNumber;
  }
}

// The status of a failed query; a failure that left none is a damaged file.
int failure_code() {
  const int code = ismgr_last_status();
  return code != 0 ? code : ismgr::kStatusBadFileControl;
}

// The answer to one question, printed on standard output; 0, or the status
// code of the failure.
int ask(ismgr_channel* ch, const QinfoArgs& args) {
  switch (args.mode) {
    case QinfoMode::kItem: {
      const int item = ismgr::lookup_file_info_keyword(args.item);
      // Room for the longest text: the file text may be long. A text that
      // fills the buffer is asked for again with twice the room.
      std::vector<char> text;
      int32_t number = 0;
      for (size_t capacity = 4096;; capacity = std::min<size_t>(2 * capacity, INT32_MAX)) {
        text.assign(capacity, '\0');
        if (ismgr_file_info(ch, &number, text.data(), static_cast<int32_t>(capacity),
                            args.item.c_str(), args.key, args.segment) != 0) {
          return failure_code();
        }
        if (std::strlen(text.data()) + 1 < capacity || capacity == INT32_MAX) break;
      }
      switch (item_kind(item)) {
        case ItemKind::kNumber:
          std::printf("%d\n", number);
          break;
        case ItemKind::kText:
          std::printf("%s\n", text.data());
          break;
        case ItemKind::kBoth:
          std::printf("%d\t%s\n", number, text.data());
          break;
      }
      // A key description cut short by a damaged null value is answered with
      // its status left set: the user learns that the text is incomplete.
      return ismgr_last_status();
    }
    case QinfoMode::kKeyText: {
      char text[128] = {};
      if (ismgr_key_text(ch, args.key, text) < 0) return failure_code();
      std::printf("%s\n", text);
      return 0;
    }
    case QinfoMode::kStatistics: {
      char text[64] = {};
      if (ismgr_file_summary_text(ch, text) < 0) return failure_code();
      std::printf("%s\n", text);
      return 0;
    }
    case QinfoMode::kKeyByName: {
      const int64_t key =
          ismgr_key_by_name(ch, args.item.data(), static_cast<int32_t>(args.item.size()));
      if (key < 0) return failure_code();
      std::printf("%lld\n", static_cast<long long>(key));
      return 0;
    }
    case QinfoMode::kKeyByPosition: {
      const int64_t key = ismgr_key_by_position(ch, args.start, args.length);
      if (key < 0) return failure_code();
      std::printf("%lld\n", static_cast<long long>(key));
      return 0;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ismgr::platform::guard_standard_streams();
  QinfoArgs args;
  std::string error;
  switch (ismgr::tool::parse_qinfo_args(argc, argv, &args, &error)) {
    case ismgr::tool::QinfoParse::kOk:
      break;
    case ismgr::tool::QinfoParse::kUsage:
      std::fputs(ismgr::tool::kQinfoUsage, stderr);
      return 1;
    case ismgr::tool::QinfoParse::kBadNumber:
      std::fprintf(stderr, "qinfo: %s\n", error.c_str());
      return 1;
  }

  ismgr_control* ctl = ismgr_init();
  if (ctl == nullptr) return report(ismgr::kStatusNoMemory, args.file);
  ismgr_set_detail_hook(ismgr::tool::print_qinfo_detail, nullptr);

  int result = 0;
  // The open of qdesc, which names the file the user asked for, as expanded.
  ismgr::tool::DescribeOpenFailure failure;
  ismgr_channel* ch = ismgr::api::outer(
      ismgr::tool::open_for_description(ismgr::api::inner(ctl), args.file, &failure));
  if (ch == nullptr) {
    const int code = failure.code;
    result = report(code != 0 ? code : ismgr::kStatusCannotOpenIndex, failure.name);
  } else {
    const std::string opened = ismgr_channel_name(ch);
    const int code = ask(ch, args);
    if (!ismgr::tool::output_complete(stdout, "qinfo")) result = 1;
    if (code != 0) result = report(code, opened);
    ismgr_close(ch, ISMGR_CLOSE_PURGE, nullptr);
  }
  ismgr_set_detail_hook(nullptr, nullptr);
  ismgr_shutdown(ctl);
  return result;
}

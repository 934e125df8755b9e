// Test helper: installs a detail hook that records every detail, and runs a
// parse step that is expected to raise a status.
#ifndef ISMGR_TESTS_SUPPORT_DETAIL_CAPTURE_H_
#define ISMGR_TESTS_SUPPORT_DETAIL_CAPTURE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr::testing_support {

struct CapturedDetail {
  int code;
  std::string text;
  std::string value;  // the value text, or the number in decimal
};

// Records details while alive; removes the hook when destroyed.
class DetailCapture {
 public:
  DetailCapture() { clear(), set_detail_hook(record); }
  ~DetailCapture() { set_detail_hook(nullptr); }
  const std::vector<CapturedDetail>& details() const { return captured(); }
  void clear() { captured().clear(); }
  // True when some detail has this code and text.
  bool has(int code, const std::string& text) const {
    for (const CapturedDetail& d : captured())
      if (d.code == code && d.text == text) return true;
    return false;
  }
  // All details as "code text [value]" lines, for failure messages.
  std::string dump() const {
    std::string out;
    for (const CapturedDetail& d : captured())
      out += std::to_string(d.code) + " " + d.text + " [" + d.value + "]\n";
    return out;
  }

 private:
  static std::vector<CapturedDetail>& captured() {
    static std::vector<CapturedDetail> details;
    return details;
  }
  static void record(void*, int code, const char* text, int64_t value) {
    captured().push_back(
        {code, text != nullptr ? text : "",
         detail_value_is_text(code) ? detail_value_text(value) : std::to_string(value)});
  }
};

// Runs `step`; returns the status it raised, or 0.
inline int status_of(const std::function<void()>& step) {
  try {
    step();
  } catch (const StatusError& e) {
    return e.code();
  }
  return 0;
}

}  // namespace ismgr::testing_support

#endif  // ISMGR_TESTS_SUPPORT_DETAIL_CAPTURE_H_

// Test helper: installs a detail hook that records every detail, and runs a
// parse step that is expected to raise a status.
#ifndef ISMGR_TESTS_SUPPORT_DETAIL_CAPTURE_H_
#define ISMGR_TESTS_SUPPORT_DETAIL_CAPTURE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ismgr::testing_support {

struct CapturedDetail {
  int code;
  std::string text;
  std::string value;  // the value text, or the number in decimal
};

// Records details while alive; removes the hook when destroyed.
class DetailCapture {
 public:
  DetailCapture();
  ~DetailCapture();
  const std::vector<CapturedDetail>& details() const;
  void clear();
  // True when some detail has this code and text.
  bool has(int code, const std::string& text) const;
  // All details as "code text [value]" lines, for failure messages.
  std::string dump() const;
};

// Runs `step`; returns the status it raised, or 0.
int status_of(const std::function<void()>& step);

}  // namespace ismgr::testing_support

#endif  // ISMGR_TESTS_SUPPORT_DETAIL_CAPTURE_H_

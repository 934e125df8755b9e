#include "support/detail_capture.h"

#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr::testing_support {

namespace {

std::vector<CapturedDetail> g_captured;

void record(void*, int code, const char* text, int64_t value) {
  g_captured.push_back(
      {code, text != nullptr ? text : "",
       detail_value_is_text(code) ? detail_value_text(value) : std::to_string(value)});
}

}  // namespace

DetailCapture::DetailCapture() {
  g_captured.clear();
  set_detail_hook(record);
}
DetailCapture::~DetailCapture() {
  set_detail_hook(nullptr);
}
const std::vector<CapturedDetail>& DetailCapture::details() const {
  return g_captured;
}
void DetailCapture::clear() {
  g_captured.clear();
}
bool DetailCapture::has(int code, const std::string& text) const {
  for (const CapturedDetail& d : g_captured) {
    if (d.code == code && d.text == text) return true;
  }
  return false;
}
std::string DetailCapture::dump() const {
  std::string out;
  for (const CapturedDetail& d : g_captured) {
    out += std::to_string(d.code) + " " + d.text + " [" + d.value + "]\n";
  }
  return out;
}

int status_of(const std::function<void()>& step) {
  try {
    step();
  } catch (const StatusError& e) {
    return e.code();
  }
  return 0;
}

}  // namespace ismgr::testing_support

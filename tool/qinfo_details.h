// Words for the details the layer reports while qinfo opens a file and asks
// about it, so that the user learns which key, segment or item was wrong.
#ifndef ISMGR_TOOL_QINFO_DETAILS_H_
#define ISMGR_TOOL_QINFO_DETAILS_H_

#include <cstdint>
#include <string>

namespace ismgr::tool {

// One detail (code, text and value as the hook receives them; a value that
// carries a text is given as `value_text`) as a sentence without a line end.
// Empty when the detail says nothing the error line does not say.
std::string qinfo_detail_sentence(int code, const char* text, int64_t value,
                                  const char* value_text);

// The detail hook of qinfo (an ismgr_detail_hook): writes each sentence on
// standard error as "qinfo: <sentence>".
void print_qinfo_detail(void* user, int code, const char* text, int64_t value,
                        const char* value_text);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_QINFO_DETAILS_H_

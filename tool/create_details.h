// Words for the details the layer reports while it parses a description and
// creates a file, so that the user of qcreate learns which keyword, which
// value or which key was wrong.
#ifndef ISMGR_TOOL_CREATE_DETAILS_H_
#define ISMGR_TOOL_CREATE_DETAILS_H_

#include <cstdint>
#include <string>

namespace ismgr::tool {

// One detail (code, text, value as the hook receives them; a value that
// carries a text is given as `value_text`) as a sentence without a line end.
// Empty when the detail says nothing the error line does not say.
std::string create_detail_sentence(int code, const char* text, int64_t value,
                                   const char* value_text);

// The detail hook of qcreate (an ismgr_detail_hook): writes each sentence on
// standard error as "qcreate: <sentence>".
void print_create_detail(void* user, int code, const char* text, int64_t value,
                         const char* value_text);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_CREATE_DETAILS_H_

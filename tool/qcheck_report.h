// The output of qcheck for one file: problem lines and the verdict, the
// statistics table (-s), or one JSON object (-j).
#ifndef ISMGR_TOOL_QCHECK_REPORT_H_
#define ISMGR_TOOL_QCHECK_REPORT_H_

#include <string>
#include <vector>

#include "ismgr/isam/tree_check.h"

namespace ismgr::tool {

// "NAME: key K: block 0xADDR: KIND: text" per problem, the table when
// `statistics`, then "NAME: sound" or "NAME: N problems".
std::string text_report(const std::string& name, const TreeCheckReport& report,
                        const std::vector<std::string>& key_names, bool statistics);

// The whole report as one JSON object on one line.
std::string json_report(const std::string& name, const TreeCheckReport& report,
                        const std::vector<std::string>& key_names);

// A file that could not be checked, as a JSON object on one line.
std::string json_failure(const std::string& name, int status, const char* message);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_QCHECK_REPORT_H_

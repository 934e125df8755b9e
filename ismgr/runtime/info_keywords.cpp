#include "ismgr/runtime/info_keywords.h"

#include "ismgr/runtime/keyword.h"

namespace ismgr {

const char* const kFileInfoKeywords[] = {
    "init_all",    "filename",   "size",      "numrecs",     "numkeys",
    "fopts",       "kposition",  "keylength", "keysegments", "ktype",
    "keydensity",  "dups",       "modify",    "ascend",      "atend",
    "null",        "nullvalue",  "keyname",   "string",      "seglength",
    "revision",    "pagesize",   "keydepth",  "createdate",  "cleardate",
    "reindexdate", "verifydate", "netcrypt",  "rovh",        "putnote",
    "sgrfa",       "",
};

int lookup_file_info_keyword(std::string_view keyword) {
  if (keyword.empty() || keyword.size() > kMaxKeywordLength) return -1;
  int item = match_keyword(keyword, kFileInfoKeywords, nullptr);
  return item >= 0 ? item : -1;
}

}  // namespace ismgr

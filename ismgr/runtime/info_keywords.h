// The keywords of the file information query, in item order: the channel
// answers item 1 ("filename") itself, the ISAM driver the others.
#ifndef ISMGR_RUNTIME_INFO_KEYWORDS_H_
#define ISMGR_RUNTIME_INFO_KEYWORDS_H_

#include <string_view>

namespace ismgr {

enum FileInfoItem : int {
  kInfoInitAll = 0,
  kInfoFilename = 1,
  kInfoSize = 2,
  kInfoNumrecs = 3,
  kInfoNumkeys = 4,
  kInfoFopts = 5,
  kInfoKposition = 6,
  kInfoKeylength = 7,
  kInfoKeysegments = 8,
  kInfoKtype = 9,
  kInfoKeydensity = 10,
  kInfoDups = 11,
  kInfoModify = 12,
  kInfoAscend = 13,
  kInfoAtend = 14,
  kInfoNull = 15,
  kInfoNullvalue = 16,
  kInfoKeyname = 17,
  kInfoString = 18,
  kInfoSeglength = 19,
  kInfoRevision = 20,
  kInfoPagesize = 21,
  kInfoKeydepth = 22,
  kInfoCreatedate = 23,
  kInfoCleardate = 24,
  kInfoReindexdate = 25,
  kInfoVerifydate = 26,
  kInfoNetcrypt = 27,
  kInfoRovh = 28,
  kInfoPutnote = 29,
  kInfoSgrfa = 30,
};

// Lower-case keywords in item order, ended by an empty string.
extern const char* const kFileInfoKeywords[];

// The item a keyword names: case-insensitive, a leading "no" ignored,
// unambiguous prefixes accepted, an exact match first. -1 when the keyword is
// empty, longer than 80 characters, unknown or ambiguous.
int lookup_file_info_keyword(std::string_view keyword);

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_INFO_KEYWORDS_H_

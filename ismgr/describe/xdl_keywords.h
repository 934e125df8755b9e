// The main keyword table of descriptions: 79 entries whose order matters for
// the ambiguity rule of match_keyword. Entries before kKwReserved1 act on the
// FileDescription; the rest are recognised and ignored.
#ifndef ISMGR_DESCRIBE_XDL_KEYWORDS_H_
#define ISMGR_DESCRIBE_XDL_KEYWORDS_H_

namespace ismgr {

enum MainKeyword : int {
  kKwFile = 0,
  kKwName = 1,
  kKwAddressing = 2,
  kKwPageSize = 3,
  kKwDensity = 4,
  kKwKeys = 5,
  kKwRecord = 6,
  kKwSize = 7,
  kKwFormat = 8,
  kKwCompressData = 9,
  kKwStaticRfa = 10,
  kKwPortInt = 11,
  kKwKey = 12,
  kKwStart = 13,
  kKwLength = 14,
  kKwType = 15,
  kKwOrder = 16,
  kKwDuplicates = 17,
  kKwModifiable = 18,
  kKwDuplicateOrder = 19,
  kKwNull = 20,
  kKwValueNull = 21,
  kKwPosition = 22,
  kKwIndexFill = 23,
  kKwNullKey = 24,
  kKwNullValue = 25,
  kKwSegPos = 26,
  kKwSegLen = 27,
  kKwDataRecordCompression = 28,
  kKwChanges = 29,
  kKwNetworkEncrypt = 30,
  kKwRecordAllocation = 31,
  kKwAllocation = 32,
  kKwTextAllocation = 33,
  kKwText = 34,
  kKwSeed = 35,
  kKwTrackChanges = 36,
  kKwStoredGrfa = 37,
  kKwReserved1 = 38,
  kKwTitle = 39,
  kKwIdent = 40,
  kKwSystem = 41,
  kKwDate = 42,
  kKwAccess = 43,
  kKwNetwork = 44,
  kKwSharing = 45,
  kKwConnect = 46,
  kKwArea = 47,
  kKwAnalysisOfArea = 48,
  kKwAnalysisOfKey = 49,
  kKwFileMonitoring = 50,
  kMainKeywordCount = 79,
};

// The table, ended by an empty string (kMainKeywordCount + 1 entries).
extern const char* const kMainKeywords[kMainKeywordCount + 1];

// The section words after which no value follows and nothing is skipped.
inline bool is_section_word(int index) {
  return index >= kKwSystem && index <= kKwConnect;
}

// A section that holds nothing for the new file (its keywords are dropped).
inline bool ends_copied_section(int index) {
  return index == kKwArea || index == kKwAnalysisOfArea || index == kKwAnalysisOfKey;
}

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_XDL_KEYWORDS_H_

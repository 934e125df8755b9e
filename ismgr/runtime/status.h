// Status codes: every ISMGR operation reports its outcome as a small positive
// integer in the status block (0 is success). A fatal error deep inside an
// operation throws StatusError carrying the code; the operation's boundary
// catches it, stores the code in the status block and returns its failure
// value. Every handle and allocation is owned by an RAII object, so the
// unwinding leaks nothing.
#ifndef ISMGR_RUNTIME_STATUS_H_
#define ISMGR_RUNTIME_STATUS_H_

#include <cstdint>
#include <exception>

namespace ismgr {

class StatusError : public std::exception {
 public:
  explicit StatusError(int code) : code_(code) {}
  int code() const { return code_; }
  const char* what() const noexcept override;

 private:
  int code_;
};

// Unwinds to the operation's boundary with `code`.
[[noreturn]] void raise_status(int code);

// The message of a status code, or null when the code has no row (the tool
// then prints "Unknown error code"). Some messages end in a tab or a blank.
const char* status_message(int code);

// Refines the status of a failed open from the C library error number and the
// OS error of the failing call: a missing file, a malformed name, a missing
// privilege and a file in use are told apart. Acts only on 19, 20, 30 and 57.
int refine_open_status(int status, int c_errno, uint32_t os_error);

// Names for the codes the layer sets most often.
enum StatusCode : int {
  kStatusOk = 0,
  kStatusBadFileControl = 1,
  kStatusIllegalKey = 2,
  kStatusLockFailure = 3,
  kStatusNameTooLong = 4,
  kStatusEof = 5,
  kStatusIndexIncongruity = 6,
  kStatusIoError = 11,
  kStatusNotIsam = 17,
  kStatusCannotOpenData = 19,
  kStatusCannotOpenIndex = 20,
  kStatusReadFailure = 22,
  kStatusRecordLocked = 23,
  kStatusWriteFailure = 25,
  kStatusCompression = 27,
  kStatusCannotCreate = 30,
  kStatusNoMemory = 31,
  kStatusInvalidOption = 32,
  kStatusMissingParameter = 37,
  kStatusExistingFile = 40,
  kStatusIncompatible = 43,
  kStatusInvalidNull = 45,
  kStatusInUse = 47,
  kStatusFileNotFound = 57,
  kStatusBadFileSpec = 58,
  kStatusInvalidMode = 59,
  kStatusIllegalFunction = 63,
  kStatusNoCaching = 65,
  kStatusSegmentRange = 79,
  kStatusXdlFile = 81,
  kStatusXdlString = 82,
  kStatusSortWorkFile = 122,
  kStatusUnsupportedIsam = 142,
};

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_STATUS_H_

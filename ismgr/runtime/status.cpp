// The process-wide table of status messages and the refinement of a failed
// open's status.
#include "ismgr/runtime/status.h"

#include <cerrno>

#include "ismgr/platform/platform.h"

namespace ismgr {

namespace {

struct StatusRow {
  int64_t code;
  const char* text;
};

// In ascending code order, ended by code 0. The texts are stored exactly as
// the layer prints them (24, 26, 27 and 31 end in a tab, 49 in a blank).
const StatusRow kStatusTable[] = {
    {1, "Bad ISAM file control"},
    {2, "Illegal key specified"},
    {3, "Lock failure"},
    {4, "Filename length too long"},
    {5, "EOF encountered"},
    {6, "Index incongruity error"},
    {7, "Illegal decimal key of reference"},
    {8, "Illegal alpha key of reference"},
    {9, "Invalid OPEN mode, Requires update"},
    {10, "Invalid RFA"},
    {11, "I/O error"},
    {12, "Illegal record size"},
    {13, "Key not same"},
    {14, "No current record established"},
    {15, "No duplicates allowed"},
    {16, "I/O error: No disk space"},
    {17, "Not an ISAM file"},
    {18, "Record not locked for WRITE/DELETE"},
    {19, "Cannot open data file"},
    {20, "Cannot open index file"},
    {21, "Qualifier incongruity error"},
    {22, "I/O error: Read failure"},
    {23, "Record is locked"},
    {24, "Input size exceeds destination size\t"},
    {25, "I/O error: Write failure"},
    {26, "Data incongruity, key to deleted rec\t"},
    {27, "Data compression/uncompression error\t"},
    {28, "Data freelist error"},
    {29, "Deleted record error"},
    {30, "Cannot create file"},
    {31, "Insufficient memory for attempted op\t"},
    {32, "Invalid option"},
    {33, "Invalid compression option"},
    {34, "Invalid key length"},
    {35, "Invalid record length"},
    {36, "Invalid start position"},
    {37, "Missing required parameter"},
    {38, "Mismatched segments"},
    {39, "Key spans end of record"},
    {40, "Existing file, cannot overwrite"},
    {41, "Undefined keys, cannot create"},
    {42, "Flush error"},
    {43, "Encountered incompatible ISAM file"},
    {44, "Record not found (No record Read/Found)"},
    {45, "Invalid null value"},
    {47, "File in use by another user"},
    {48, "C-ISAM file corrupted"},
    {49, "Too many open files "},
    {50, "Cannot open C-ISAM file"},
    {51, "C-ISAM read error"},
    {52, "Cannot open BTRIEVE file"},
    {53, "BTRIEVE file is corrupted"},
    {54, "BTRIEVE requester not loaded"},
    {55, "No privilege to this file or directory"},
    {56, "Generic Btrieve Error"},
    {57, "File not found"},
    {58, "Bad file specification"},
    {59, "Invalid I/O mode on open"},
    {60, "Bad file org on open"},
    {61, "Bad I/O options in I/O statement"},
    {62, "Operation timed out"},
    {63, "Illegal function for this control"},
    {64, "Remote LPQUE error"},
    {65, "No caching allowed"},
    {66, "Bad decimal key value"},
    {67, "Partial numeric key not allowed"},
    {68, "Invalid overlay of numeric key"},
    {70, "Invalid index page size"},
    {71, "Invalid index density"},
    {72, "Invalid key type"},
    {73, "Invalid key order"},
    {74, "Incorrect number of types specified"},
    {75, "Incorrect number of orders specified"},
    {76, "Invalid non-key integer size"},
    {77, "Non-key integer data cannot overlap"},
    {78, "Invalid overlay of non-key integer data"},
    {79, "Specified segment out of range"},
    {80, "Null value doesn't exist for key"},
    {81, "Error in XDL file"},
    {82, "Error in XDL string"},
    {83, "Interrupt detected"},
    {86, "Backup mode shared memory segment has not been created"},
    {87, "Cannot access backup mode shared memory segment"},
    {88, "Invalid base address specified for backup mode shared memory segment"},
    {89, "Backup mode shared memory segment already in use"},
    {90, "Prefetch cache error"},
    {91, "Record not same"},
    {92, "File requires network encryption"},
    {93, "Channel is in use by another thread"},
    {100, "Illegal record number"},
    {101, "No room to write to file"},
    {102, "Invalid relative record"},
    {103, "Cannot delete file"},
    {104, "Device not available"},
    {105, "No FDL file allowed on open yet"},
    {107, "No winsock"},
    {108, "TCP/IP init error"},
    {109, "TCP/IP bad remote user name"},
    {110, "Cannot connect to port"},
    {111, "Cannot create client connection"},
    {112, "bad host name"},
    {113, "Network problem"},
    {114, "Server not running on remote host"},
    {115, "Deadlock condition detected"},
    {118, "Network error after open"},
    {119, "Version of Qnetd not compatible"},
    {120, "Sort failure"},
    {121, "Merge failure"},
    {122, "Sort work file in use"},
    {123, "Error writing to exception file"},
    {124, "Bad data segment - correctable"},
    {125, "Bad data segment - non-correctable"},
    {126, "Index error"},
    {127, "Data error"},
    {128, "ISAM Utility failure"},
    {130, "Invalid Select opcode version"},
    {131, "Channel not open"},
    {132, "Wrong Alpha enumerator"},
    {133, "Select not initialized"},
    {140, "Bad allocation pointer - Only read-only access allowed"},
    {141, "Operation ignored"},
    {142, "Incompatible ISAM file - unsupported by this Corveth version"},
    {143, "Invalid timestamp key exceeds current time"},
    {144, "Network share is not allowed with this file"},
    {145, "Specified file revision not supported (ISAMC_REV)"},
    {146, "File access is restricted to readonly"},
    {0, ""},
};

}  // namespace

const char* StatusError::what() const noexcept {
  const char* text = status_message(code_);
  return text != nullptr ? text : "Unknown error code";
}

void raise_status(int code) {
  throw StatusError(code);
}

const char* status_message(int code) {
  for (const StatusRow* row = kStatusTable; row->code != 0; ++row) {
    if (row->code == code) return row->text;
  }
  return nullptr;
}

int refine_open_status(int status, int c_errno, uint32_t os_error) {
  if (status != 19 && status != 20 && status != 30 && status != 57) return status;
  namespace p = platform;
  switch (c_errno) {
    case ENOENT:
      switch (os_error) {
        case p::kErrPathNotFound:
        case p::kErrBadNetPath:
        case p::kErrInvalidName:
        case p::kErrBadPathname:
          return 58;
        case p::kErrBadUnit:
        case p::kErrDevNotExist:
          return 104;
        default:
          return 57;
      }
    case EINVAL:
      return 58;
    case ENOMEM:
      return 31;
    case EACCES:
      return os_error == p::kErrSharingViolation ? 47 : 55;
    case EMFILE:
      return 49;
    case EFBIG:
    case ENOSPC:
      return 16;
    case -2:
      return 47;
    default:
      return status;
  }
}

}  // namespace ismgr

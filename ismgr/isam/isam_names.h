// Names the ISAM open derives from an expanded index-file name: the data
// file and the last path component.
#ifndef ISMGR_ISAM_ISAM_NAMES_H_
#define ISMGR_ISAM_ISAM_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace ismgr {

// Longest file name the open keeps (the name buffers hold 531 bytes).
constexpr size_t kMaxIsamName = 530;

// Offset of the last path component: after the last directory separator
// ("\" or "/"), else after the last ":", else 0.
size_t last_component_start(const std::string& name);

// True when the last path component contains a ".".
bool last_component_has_dot(const std::string& name);

// The data file of an index file: when the name ends in a decimal digit the
// character just before its last "." becomes "_" (cust.dt5 -> cus_.dt5),
// otherwise its last character becomes "1" (cust.ism -> cust.is1). When the
// last component has no character before its last "." the final digit
// becomes "_" instead, so that the two names never coincide and the data
// file stays in the index file's directory. An empty name stays empty.
std::string data_file_name(const std::string& index_name);

}  // namespace ismgr

#endif  // ISMGR_ISAM_ISAM_NAMES_H_

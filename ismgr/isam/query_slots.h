// The ISAM driver's query slots of the operations table, over the file and
// key queries. Arguments travel in the ChannelCall:
//   10 file summary text       text (at least 32 bytes)
//   11 file summary record     text (the 17-byte record)
//   12 file information query  number, text, capacity, keyword, key, segment
//   13 key parameter text      key, text (at least 91 bytes)
//   14 key parameter record    key, text (the 56-byte record)
//   24 key by name             text (name bytes), capacity (their length)
//   25 key by position         key (start, counted from 0), capacity (length)
#ifndef ISMGR_ISAM_QUERY_SLOTS_H_
#define ISMGR_ISAM_QUERY_SLOTS_H_

#include <cstdint>

#include "ismgr/runtime/channel_driver.h"

namespace ismgr {

int64_t isam_slot_summary_text(void* handle, ChannelCall& call);
int64_t isam_slot_summary_record(void* handle, ChannelCall& call);
int64_t isam_slot_file_info(void* handle, ChannelCall& call);
int64_t isam_slot_key_text(void* handle, ChannelCall& call);
int64_t isam_slot_key_record(void* handle, ChannelCall& call);
int64_t isam_slot_key_by_name(void* handle, ChannelCall& call);
int64_t isam_slot_key_by_position(void* handle, ChannelCall& call);

}  // namespace ismgr

#endif  // ISMGR_ISAM_QUERY_SLOTS_H_

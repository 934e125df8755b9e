// The file operations of the ISAM open, close and file lock, over the file
// primitives. Every failure returns -1 (false for the predicates) and leaves
// errno and the OS error of the failing call for the status refinement of
// the channel open.
#ifndef ISMGR_ISAM_ISAM_IO_H_
#define ISMGR_ISAM_ISAM_IO_H_

#include <cstdint>
#include <string>

#include "ismgr/platform/platform.h"

namespace ismgr {

// Share values of the ISAM file open.
constexpr int kIsamShareNone = 0;
constexpr int kIsamShareDenyReadWrite = 0x02;
constexpr int kIsamShareDenyWrite = 0x04;

// Opens an existing file for reading, or reading and writing with `update`.
// `share` bit 0x02 denies reading and writing to others, else bit 0x04
// denies writing, else nothing is denied. A file refused because another
// open denies it sets errno to -2 ("in use").
platform::Handle isam_file_open(const std::string& name, bool update, int share,
                                bool write_through);
// As isam_file_open, and reads the first `count` bytes of the file into
// `buffer` in the same open (their number into *got); the file pointer stays
// at 0.
platform::Handle isam_file_open_reading(const std::string& name, bool update, int share,
                                        bool write_through, void* buffer, uint32_t count,
                                        uint32_t* got);
void isam_file_close(platform::Handle handle);

int64_t isam_seek(platform::Handle handle, int64_t position);
// Reads at the file pointer: the bytes read (short at end of file) or -1.
int64_t isam_read(platform::Handle handle, void* buffer, uint32_t count);
int64_t isam_read_at(platform::Handle handle, void* buffer, uint32_t count, int64_t position);
// Reads at `position` without using or moving the file pointer.
int64_t isam_pread(platform::Handle handle, void* buffer, uint32_t count, int64_t position);
int64_t isam_write_at(platform::Handle handle, const void* buffer, uint32_t count,
                      int64_t position);
int64_t isam_file_size(platform::Handle handle);
void isam_flush_handle(platform::Handle handle);
int isam_delete_file(const std::string& name);

// True when a file of that name exists.
bool isam_file_exists(const std::string& name);
// True when the volume of `name` holds files with offsets of 2^39 and more
// and the file pointer of `handle` can be set there.
bool isam_large_file_probe(platform::Handle handle, const std::string& name);
// True when `name` lies on a network file system.
bool isam_on_network(const std::string& name);

}  // namespace ismgr

#endif  // ISMGR_ISAM_ISAM_IO_H_

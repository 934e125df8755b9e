// The file creation of the ISAM open: the open hands the description it is
// given to the creation installed here, which reads and parses it and
// writes the new file pair.
#ifndef ISMGR_DESCRIBE_OPEN_CREATE_H_
#define ISMGR_DESCRIBE_OPEN_CREATE_H_

#include <cstdint>
#include <string>

#include "ismgr/describe/file_description.h"
#include "ismgr/runtime/context.h"

namespace ismgr {

// Creates the file of `description` under `name` (possibly followed by a
// comma and creation options). `sprced` is the open mode's IM_SPRCED bit
// (replace existing files). Returns 0, or -1 with the status code in the
// context's status block.
int create_for_open(ismgr_control* ctl, const FileDescription& description, const std::string& name,
                    uint32_t sprced, int32_t revision);

// The creation of the ISAM open (an IsamCreateFn): reads ("@file", default
// extension ".xdl") and parses the description with the creation revision
// of the configuration, refuses a revision below 4 (145), and creates the
// file through create_for_open. `name` is the open's name buffer (cut to
// 530 characters); the description may fill or extend it. Returns 0 or a
// status code: the reader's or the parser's, 145, 30, or the creation's. For
// a description file that cannot be read, `failed_name` receives its name.
int create_from_description(ismgr_control* ctl, const char* description, std::string* name,
                            uint32_t sprced, std::string* failed_name);

// Makes the ISAM open create files through create_from_description.
void install_file_creation();

// While one lives, the file pairs the calling thread's creations through
// the open make are noted in it, so that a caller whose open or close fails
// after the creation succeeded can delete what it made (and nothing that
// was there before: a creation that fails removes its own files). Records
// do not nest: the innermost one notes.
class CreationRecord {
 public:
  CreationRecord();
  ~CreationRecord();
  CreationRecord(const CreationRecord&) = delete;
  CreationRecord& operator=(const CreationRecord&) = delete;

  // Notes the pair of the file created under `name`.
  void note(const std::string& name);
  // Deletes the noted pair, if any, and forgets it.
  void remove_files();

 private:
  CreationRecord* previous_;
  bool made_ = false;
  std::string index_;
  std::string data_;
};

}  // namespace ismgr

#endif  // ISMGR_DESCRIBE_OPEN_CREATE_H_

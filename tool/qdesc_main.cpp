// qdesc: describes ISAM files as PAR or XDL text.
//
// A host of the public interface for start-up and shutdown; each file is
// described by the same writers as ismgr_describe_file(), through the
// opener that falls back to the data file and handles -t.
#include <cstdio>
#include <cstdlib>

#include "ismgr/ismgr.h"
#include "ismgr/platform/terminal.h"
#include "ismgr/runtime/context.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"
#include "tool/out.h"

int main(int argc, char** argv) {
  ismgr::platform::guard_standard_streams();
  // Into a file or a pipe, the descriptions of many files go out in one
  // write; a description reaches a terminal as soon as it is complete.
  static char out_buffer[32768];
  if (!ismgr::platform::is_terminal(1)) std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  ::ismgr_control* ctl = ismgr_init();
  int status = 1;
  {
    ismgr::tool::ChannelOpener opener(ismgr::existing_context());
    status = ismgr::tool::run_qdesc(argc, argv, opener, stdout, stderr);
  }
  if (!ismgr::tool::output_complete(stdout, "qdesc")) status = 1;
  ismgr_shutdown(ctl);
  std::exit(status);
}

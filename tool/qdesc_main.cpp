// qdesc: describes ISAM files as PAR or XDL text.
#include <cstdio>
#include <cstdlib>

#include "ismgr/runtime/context.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

int main(int argc, char** argv) {
  ismgr::ismgr_control* ctl = ismgr::ismgr_init();
  int status = 1;
  {
    ismgr::tool::ChannelOpener opener(ctl);
    status = ismgr::tool::run_qdesc(argc, argv, opener, stdout, stderr);
  }
  std::fflush(stdout);
  ismgr::ismgr_shutdown(ctl);
  std::exit(status);
}

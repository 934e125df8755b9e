/* A host program of the ISMGR library: opens the ISAM file named on its
 * command line, prints its record size, key count and each key's name,
 * start, length and type through the file information query, then its
 * layout as an XDL description (without the diagnosis comments).
 *
 *   host data/customer
 */
#include <ismgr/ismgr.h>
#include <stdio.h>

/* Prints the failing status of `what` and returns 1. */
static int fail(const char* what, const char* name) {
  int32_t code = ismgr_last_status();
  const char* text = ismgr_status_text(code);
  fprintf(stderr, "%s %s: %d %s\n", what, name, (int)code,
          text != NULL ? text : "Unknown error code");
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s isam_file\n", argv[0]);
    return 2;
  }
  const char* name = argv[1];
  ismgr_control* ctl = ismgr_init();
  ismgr_channel* ch = ismgr_open(name, ISMGR_MODE_INPUT | ISMGR_MODE_ISAM, 0, 0, NULL, NULL);
  if (ch == NULL) {
    int rc = fail("cannot open", name);
    ismgr_shutdown(ctl);
    return rc;
  }

  int rc = 0;
  int32_t size = 0, keys = 0;
  if (ismgr_file_number(ch, "size", &size) != 0 || ismgr_file_number(ch, "numkeys", &keys) != 0) {
    rc = fail("cannot query", name);
  } else {
    printf("record size %d, %d keys\n", (int)size, (int)keys);
  }
  for (int32_t key = 0; rc == 0 && key < keys; ++key) {
    char key_name[32], type[8];
    int32_t start = 0, length = 0;
    if (ismgr_file_info(ch, NULL, key_name, sizeof key_name, "keyname", key, 0) != 0 ||
        ismgr_file_info(ch, &start, NULL, 0, "kposition", key, 0) != 0 ||
        ismgr_file_info(ch, &length, NULL, 0, "keylength", key, 0) != 0 ||
        ismgr_file_info(ch, NULL, type, sizeof type, "ktype", key, 0) != 0) {
      rc = fail("cannot query key of", name);
    } else {
      printf("key %d: name \"%s\", start %d, length %d, type %s\n", (int)key, key_name, (int)start,
             (int)length, type);
    }
  }
  if (rc == 0) {
    int32_t code = ismgr_describe_file(ch, ISMGR_FORMAT_XDL, ISMGR_DESCRIBE_BARE, name, stdout);
    if (code != 0) {
      fprintf(stderr, "cannot describe %s: %s\n", name, ismgr_status_text(code));
      rc = 1;
    }
  }
  ismgr_close(ch, 0, NULL);
  ismgr_shutdown(ctl);
  return rc;
}

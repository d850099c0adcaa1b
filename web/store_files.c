#define _POSIX_C_SOURCE 200809L
#include "store_files.h"

#include <unistd.h>

int JoinPath(char* path, const char* directory, const char* name) {
  int written = snprintf(path, PATH_SIZE, "%s%s", directory, name);
  return written < 0 || written >= PATH_SIZE ? -1 : 0;
}

LoomregStoreResult OpenStoreFile(const char* path, FILE** file) {
  int fd;
  LoomregStoreResult state = LoomregOpenRegularFile(path, &fd);
  *file = NULL;
  if (state != LOOMREG_STORE_OK) return state;
  *file = fdopen(fd, "rb");
  if (*file == NULL) {
    close(fd);
    return LOOMREG_STORE_OPEN_ERROR;
  }
  return LOOMREG_STORE_OK;
}

const char* StoreFileStateText(LoomregStoreResult state) {
  switch (state) {
    case LOOMREG_STORE_OK:
      return "a regular file";
    case LOOMREG_STORE_MISSING:
      return "missing";
    case LOOMREG_STORE_LINK:
      return "a symbolic link";
    case LOOMREG_STORE_NOT_REGULAR:
      return "not a regular file (a directory, FIFO or device)";
    default:
      break;
  }
  return "unreadable";
}

#define _POSIX_C_SOURCE 200809L
#include "store_files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

int JoinPath(char* path, const char* directory, const char* name) {
  int written = snprintf(path, PATH_SIZE, "%s%s", directory, name);
  return written < 0 || written >= PATH_SIZE ? -1 : 0;
}

StoreFileState OpenStoreFile(const char* path, FILE** file) {
  struct stat before, opened;
  int fd, flags;
  *file = NULL;
  if (lstat(path, &before) != 0) return errno == ENOENT ? kStoreFileMissing : kStoreFileError;
  if (S_ISLNK(before.st_mode)) return kStoreFileLink;
  /* Opening a device can act on it, so only a regular file is opened at all. */
  if (!S_ISREG(before.st_mode)) return kStoreFileOther;
  fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) return kStoreFileLink;
    return errno == ENOENT ? kStoreFileMissing : kStoreFileError;
  }
  /* Replaced between the lstat and the open: judge what was opened. */
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    close(fd);
    return kStoreFileOther;
  }
  flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *file = fdopen(fd, "rb");
  if (*file == NULL) {
    close(fd);
    return kStoreFileError;
  }
  return kStoreFileOpen;
}

const char* StoreFileStateText(StoreFileState state) {
  switch (state) {
    case kStoreFileOpen:
      return "a regular file";
    case kStoreFileMissing:
      return "missing";
    case kStoreFileLink:
      return "a symbolic link";
    case kStoreFileOther:
      return "not a regular file (a directory, FIFO or device)";
    case kStoreFileError:
      break;
  }
  return "unreadable";
}

static int IsListSpace(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

int ForEachWord(FILE* list, int (*visit)(const char* word, void* context), void* context) {
  size_t size = 256, used = 0;
  char* word = malloc(size);
  int c, result = 0;
  if (word == NULL) return -1;
  while (result == 0) {
    c = getc(list);
    if (c == EOF || IsListSpace(c)) {
      if (used > 0) {
        word[used] = '\0';
        result = visit(word, context);
        used = 0;
      }
      if (c == EOF) break;
      continue;
    }
    if (used + 1 == size) {
      char* larger = size < ((size_t)1 << 20) ? realloc(word, size * 2) : NULL;
      if (larger == NULL) {
        result = -1;
        break;
      }
      word = larger;
      size *= 2;
    }
    word[used++] = (char)c;
  }
  if (result == 0 && ferror(list)) result = -1;
  free(word);
  return result;
}

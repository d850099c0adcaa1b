/* How the web front reads the store's files: the way loomreg opens them, never through a
 * symbolic link, never blocking on a FIFO or device, and only when they are regular files. */
#ifndef LOOMREG_WEB_STORE_FILES_H
#define LOOMREG_WEB_STORE_FILES_H

#include <stdio.h>

/* Paths are built from path-table entries (at most 255 bytes) and names (at most 255 each). */
#define PATH_SIZE 1024

/* Joins a directory of the path table and a name; 0, or -1 when they do not fit. */
int JoinPath(char* path, const char* directory, const char* name);

/* The outcome of OpenStoreFile. */
typedef enum {
  kStoreFileOpen,    /* *file is open for reading */
  kStoreFileMissing, /* no such entry */
  kStoreFileLink,    /* a symbolic link, not followed */
  kStoreFileOther,   /* a directory, FIFO, device or socket, not opened */
  kStoreFileError    /* it could not be opened or examined */
} StoreFileState;

/* Opens `path` for reading if it is a regular file: looked at with lstat first, then opened
 * with O_NOFOLLOW | O_NONBLOCK and checked to be the same regular file. */
StoreFileState OpenStoreFile(const char* path, FILE** file);

/* Words of what an entry in place of a file is, for a page: "a symbolic link", ... */
const char* StoreFileStateText(StoreFileState state);

/* Calls `visit` for each word of a list file, the way loomreg reads lists: space, tab, CR, LF,
 * VT and FF separate words. Returns 0, the first nonzero result of `visit`, or -1 when memory
 * ran out or reading failed. */
int ForEachWord(FILE* list, int (*visit)(const char* word, void* context), void* context);

#endif

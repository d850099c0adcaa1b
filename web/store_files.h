/* How the web front opens files loomreg writes outside the store's own lists, and names what it
 * found for a page: through loomreg_store.h, which opens them the way loomreg does, never
 * through a symbolic link, never blocking on a FIFO or device, and only when they are regular
 * files. */
#ifndef LOOMREG_WEB_STORE_FILES_H
#define LOOMREG_WEB_STORE_FILES_H

#include <stdio.h>

#include "loomreg_store.h"

/* Paths are built from path-table entries (at most 255 bytes) and names (at most 255 each). */
#define PATH_SIZE 1024

/* Joins a directory of the path table and a name; 0, or -1 when they do not fit. */
int JoinPath(char* path, const char* directory, const char* name);

/* Opens `path` for reading if it is a regular file; LOOMREG_STORE_OK and `*file`, or why not
 * (then `*file` is NULL). */
LoomregStoreResult OpenStoreFile(const char* path, FILE** file);

/* Words of what an entry in place of a file is, for a page: "a symbolic link", ... */
const char* StoreFileStateText(LoomregStoreResult state);

#endif

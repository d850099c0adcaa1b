/* A POST of the save form: checks, the upload, loomreg's run, and the outcome read back from
 * the store. */
#ifndef LOOMREG_WEB_SAVE_H
#define LOOMREG_WEB_SAVE_H

#include <stddef.h>

/* Saves the form in `body` (`length` bytes and a NUL, writable, with room for one more byte)
 * and answers with the outcome page. */
int Save(char* body, size_t length);

#endif

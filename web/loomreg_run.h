/* Process control of a save: the request's own working directory, and loomreg started in it
 * and waited for. */
#ifndef LOOMREG_WEB_LOOMREG_RUN_H
#define LOOMREG_WEB_LOOMREG_RUN_H

#include <stddef.h>

/* The most of loomreg's standard error kept. */
#define MESSAGE_LIMIT 4096
/* A working directory older than this is left over from a request that was killed. */
#define LEFTOVER_SECONDS (5 * 60)

/* Removes the working directories (save-XXXXXX/ in the application directory) of requests that
 * ended without removing their own: those last changed more than LEFTOVER_SECONDS ago. */
void SweepRequestDirectories(void);

/* Creates the request's own working directory in the application directory, with a
 * KVR_PATH.inf that leads loomreg to the same store. Returns 0 and stores its name, or -1. */
int MakeRequestDirectory(char* directory, size_t size);
void RemoveRequestDirectory(const char* directory);

/* No result: loomreg did not run to its end or could not record how it ended. */
#define RUN_NO_RESULT 1

/* Starts loomreg in `directory` with `words` (the file-name word as argv[0]), without a shell;
 * standard error goes into `message` (at most MESSAGE_LIMIT bytes kept). Waits for it and
 * returns the run status it left in TimeExec.dat: 0, -1, or RUN_NO_RESULT. Returns -2 when it
 * could not be started. */
int RunLoomreg(char* const* words, const char* directory, char* message);

#endif

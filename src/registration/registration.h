/* Registration of a saved loom-settings file in the data store.
 *
 * The catalogue operations each open their file, do their work and close it again; every line
 * they write ends in CR LF and is written whole with one write() call. They return 0 on success
 * and -1 when a file cannot be opened, read, written or closed.
 *
 * All paths come from the path table (siteconfig.h), which BuildPathTable must have filled.
 *
 * These functions are the loomreg program's own: this header is not installed and the library
 * holding them is built with hidden visibility, so no other program links against them. The web
 * application and other callers run the loomreg program instead. */
#ifndef LOOMREG_REGISTRATION_H
#define LOOMREG_REGISTRATION_H

#ifdef __cplusplus
extern "C" {
#endif

/* Appends `text` and a line end, creating the file when absent. */
int AppendListLine(const char* path, const char* text);

/* Appends `name` and a line end unless the list already holds it as a whole word. A list that
 * cannot be opened for reading counts as empty and is created. */
int AddNameIfAbsent(const char* path, const char* name);

/* Like AddNameIfAbsent, but the list must already exist: a missing list is a failure and no
 * file is created. */
int AddNameToFileList(const char* path, const char* name);

/* Appends the history line "file,style,beam,comment,machine". */
int WriteHistoryLine(const char* path, const char* file, const char* style, const char* beam,
                     const char* comment, const char* machine);

/* Rewrites the machine's stamp: "machine,Www Mmm dd hh:mm:ss yyyy", a line end, and an empty
 * line, in local time. */
int WriteMachineStamp(const char* path, const char* machine);

/* Files the upload under its style and records the save in every catalogue, in a fixed order,
 * under an exclusive lock on the history directory. Returns 0 when every step was carried out,
 * -1 when the request was refused (nothing changed) or a step stopped the save (the earlier
 * steps stay done). Diagnostics go to standard error as one "loomreg: ..." line. */
int RegisterSave(const char* file, const char* style, const char* beam, const char* comment,
                 const char* machine, const char* top_beam);

/* The whole program: command line, run-status file, registration. Returns the exit status. */
int LoomregMain(int argc, char** argv);

#ifdef __cplusplus
}
#endif

#endif

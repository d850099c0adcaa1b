/* Site configuration: the settings of ./KVR_PATH.inf and the table of data-store paths.
 *
 * Every reader returns a 256-byte buffer of its own (at most 255 bytes of text and a NUL),
 * kept for the life of the process and rewritten on every call: copy a value before calling
 * the same reader again if it must survive. Callers never write or free these buffers.
 * Nothing here reports an error: a missing file or key yields the built-in default. */
#ifndef LOOMREG_SITECONFIG_H
#define LOOMREG_SITECONFIG_H

#ifdef __cplusplus
extern "C" {
#endif

#define LOOMREG_TEXT_SIZE 256

/* "KVR=": the site path of the application directory (the working directory); default "/kvr/". */
const char* ReadKvrPath(void);
/* "KVRDATA=": the site path of the data directory; default "/kvrdata/". */
const char* ReadKvrDataPath(void);

/* Computes the data root (the data directory reached from the working directory by a relative
 * path) and fills the eleven path-table entries below, in their declared order. */
void BuildPathTable(void);

/* 1 when every entry of the last BuildPathTable holds its whole path; 0 when the data root was
 * too long for at least one entry to fit in 255 bytes. An entry that does not fit is left
 * empty, never truncated, so a caller must check this before forming paths from the table. */
int PathTableIsComplete(void);

/* The path table. Directory entries end in '/', so a path is formed by appending a name. */
extern char StyleFileDir[LOOMREG_TEXT_SIZE];        /* <root>StyleFile/ */
extern char SetValueFileListDir[LOOMREG_TEXT_SIZE]; /* <root>SetValueFileList/ */
extern char MachineFDir[LOOMREG_TEXT_SIZE];         /* <root>MachineF/ */
extern char MachineListFile[LOOMREG_TEXT_SIZE];     /* <root>MachineList/MachineList */
extern char SetValueFileDir[LOOMREG_TEXT_SIZE];     /* <root>SetValueFile/ */
extern char StyleListDir[LOOMREG_TEXT_SIZE];        /* <root>StyleList/ */
extern char HtmlFileListFile[LOOMREG_TEXT_SIZE];    /* <root>HTMLFile.txt */
extern char DobbyDir[LOOMREG_TEXT_SIZE];            /* <root>Dobby/ */
extern char DobbyListDir[LOOMREG_TEXT_SIZE];        /* <root>DobbyList/ */
extern char DobbyFileDir[LOOMREG_TEXT_SIZE];        /* <root>DobbyFile/ */
extern char MachineDir[LOOMREG_TEXT_SIZE];          /* <root>Machine/ */

#ifdef __cplusplus
}
#endif

#endif

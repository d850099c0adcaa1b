/* Reading the data store from the web application's own programs: its machines, styles, file
 * lists, save history and machine stamps, and its stored files, read the way loomreg reads them.
 *
 * A store file is read only when it is a regular file: one whose name is a symbolic link is
 * never followed (the link is not opened at all), and a directory, FIFO, device or socket in its
 * place is never opened, so nothing blocks or acts on a device. The directories of the path
 * table may themselves be links, as sites use them. Lists are read as loomreg reads them: a word
 * is a run of bytes other than space, tab, CR, LF, VT and FF.
 *
 * Every function returns a LoomregStoreResult. Lists come back as arrays that the caller frees
 * with LoomregStoreFreeList, texts as strings freed with LoomregStoreFreeText. A store handle is
 * for one thread at a time. Nothing here writes to the store. */
#ifndef LOOMREG_STORE_LOOMREG_STORE_H
#define LOOMREG_STORE_LOOMREG_STORE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
  LOOMREG_STORE_OK = 0,
  LOOMREG_STORE_MISSING,     /* no such file: nothing has written it yet */
  LOOMREG_STORE_LINK,        /* a symbolic link stands in place of the file: never followed */
  LOOMREG_STORE_NOT_REGULAR, /* a directory, FIFO, device or socket: never opened */
  LOOMREG_STORE_BAD_NAME,    /* a machine, style or file name that cannot name a store file */
  LOOMREG_STORE_OPEN_ERROR,  /* the file could not be opened or examined (see the error text) */
  LOOMREG_STORE_READ_ERROR,  /* reading the open file failed (see the error text) */
  LOOMREG_STORE_NO_MEMORY,   /* memory ran out */
  LOOMREG_STORE_BAD_TABLE    /* the store's paths of ./KVR_PATH.inf are longer than 255 bytes */
} LoomregStoreResult;

/* An open store: the paths of the data root the site configuration names. */
typedef struct LoomregStore LoomregStore;

/* One word or line: `length` bytes at `text`, followed by a NUL. A history line may hold NUL
 * bytes of its own; a word never holds white space. */
typedef struct {
  const char* text;
  size_t length;
} LoomregStoreText;

/* An array of texts in one allocation, freed with LoomregStoreFreeList. */
typedef struct {
  LoomregStoreText* items;
  size_t count;
} LoomregStoreList;

/* Opens the store of the application directory, which is the working directory: the data root
 * and every store path come from its KVR_PATH.inf, as siteconfig.h's path table gives them. The
 * data root is held open as a directory, and every store file is looked up below it, so the
 * handle keeps reading the same store when the working directory changes. On LOOMREG_STORE_OK
 * `*store` is the handle, to close with LoomregStoreClose; on any other result `*store` is NULL.
 * Nothing of the store is read yet: a store that does not exist opens, and its lists then read
 * as missing. The path-table buffers of siteconfig.h are neither read nor written. */
LoomregStoreResult LoomregStoreOpen(LoomregStore** store);

/* Releases the handle. NULL is allowed. */
void LoomregStoreClose(LoomregStore* store);

/* The data root, relative to the application directory, e.g. "../kvrdata/". */
const char* LoomregStoreDataRoot(const LoomregStore* store);

/* The path, relative to the data root, of the file the last call read or tried to read, e.g.
 * "MachineList/MachineList" (empty before the first): what a page names when it cannot show a
 * file. Valid until the next call on the store. */
const char* LoomregStoreLastPath(const LoomregStore* store);

/* What went wrong in the last call that did not return LOOMREG_STORE_OK, in one line: "cannot
 * open ../kvrdata/Machine/M1: a symbolic link, never followed". Empty after success. Valid until
 * the next call on the store. */
const char* LoomregStoreErrorText(const LoomregStore* store);

/* The words of MachineList (the machines), of KindList (the styles), of MachineF/MACHINE (the
 * files saved from a machine) and of StyleFile/STYLE (the files of a style), in the order of the
 * list, each as often as the list holds it, words longer than 255 bytes (which never equal a
 * name) included. `*list` is set on every result: empty unless LOOMREG_STORE_OK, or
 * LOOMREG_STORE_READ_ERROR, when it holds the words read before the error. A missing list is
 * LOOMREG_STORE_MISSING, not an error a page need show: no save has written it yet. */
LoomregStoreResult LoomregStoreMachines(LoomregStore* store, LoomregStoreList* list);
LoomregStoreResult LoomregStoreStyles(LoomregStore* store, LoomregStoreList* list);
LoomregStoreResult LoomregStoreMachineFiles(LoomregStore* store, const char* machine,
                                            LoomregStoreList* list);
LoomregStoreResult LoomregStoreStyleFiles(LoomregStore* store, const char* style,
                                          LoomregStoreList* list);

/* The last `max_lines` lines of the save history (SetValueFileList/SetValueList), newest first,
 * without their line ends (LF, or CR LF). A line is FILE,STYLE,BEAM,COMMENT,MACHINE as a save
 * wrote it; an empty line is returned too. Only the end of the file is read, enough for
 * `max_lines` lines as a save writes them (at most 1300 bytes each); a longer line there may be
 * cut to its end. On LOOMREG_STORE_READ_ERROR `*lines` is empty. */
LoomregStoreResult LoomregStoreHistory(LoomregStore* store, size_t max_lines,
                                       LoomregStoreList* lines);

/* Frees what a list call returned and empties `*list`. NULL and an empty list are allowed. */
void LoomregStoreFreeList(LoomregStoreList* list);

/* The first line of the machine's stamp file Machine/MACHINE, "MACHINE,Www Mmm dd hh:mm:ss yyyy"
 * as a save writes it, without its line end and cut at a NUL byte; at most 1024 bytes of the file
 * are read. On LOOMREG_STORE_OK `*line` is a string to free with LoomregStoreFreeText, or NULL
 * when the file is empty; on any other result it is NULL. */
LoomregStoreResult LoomregStoreMachineStamp(LoomregStore* store, const char* machine, char** line);

/* Frees a text a call returned. NULL is allowed. */
void LoomregStoreFreeText(char* text);

/* Whether SetValueFile/STYLE/NAME is a stored file, looked at without opening it:
 * LOOMREG_STORE_OK for a regular file, else why not (LOOMREG_STORE_MISSING, _LINK,
 * _NOT_REGULAR, _BAD_NAME, _OPEN_ERROR). */
LoomregStoreResult LoomregStoreHasFile(LoomregStore* store, const char* style, const char* name);

/* Opens the stored file SetValueFile/STYLE/NAME for reading. On LOOMREG_STORE_OK `*fd` is a
 * descriptor (blocking, close-on-exec) of the regular file, for the caller to close; on any other
 * result `*fd` is -1. On Windows it is a C runtime descriptor (_open_osfhandle, binary, read
 * only) whose handle started programs do not inherit, closed with _close(). */
LoomregStoreResult LoomregStoreOpenFile(LoomregStore* store, const char* style, const char* name,
                                        int* fd);

/* Opens any file the store's programs write (the run status loomreg leaves beside an upload, for
 * one) by its path, with the same rules as a store file. On LOOMREG_STORE_OK `*fd` is the
 * descriptor to close; on any other result it is -1. */
LoomregStoreResult LoomregOpenRegularFile(const char* path, int* fd);

/* 1 when `text` can be a machine, style or file name of the store, as a save accepts it: 1 to
 * 255 bytes, not "." or "..", with no '/', space, control byte or DEL; else 0. */
int LoomregIsStoreName(const char* text);

#ifdef __cplusplus
}
#endif

#endif

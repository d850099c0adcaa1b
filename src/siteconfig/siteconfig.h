/* Site configuration: the settings of ./KVR_PATH.inf and ./vellinfo.txt, the table of
 * data-store paths, and site paths in relative form.
 *
 * Every reader returns a 256-byte buffer of its own (at most 255 bytes of text and a NUL),
 * kept for the life of the process and rewritten on every call: copy a value before calling
 * the same reader again if it must survive. Callers never write or free these buffers.
 * Nothing here reports an error: a missing file or key yields the built-in default, a key
 * with nothing after its '=' the empty value. Files are read anew on every call. */
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

/* "GLBDIR=": a site directory, made relative by MakeGlbRoot; default "./". */
const char* ReadGlbDir(void);
/* "MAINDIR=": a CGI directory of the site; default "/pqs/pq001/cgi-bin/". */
const char* ReadMainDir(void);
/* "LOOMDIR=": a CGI directory of the site; default "/cgi-bin/". */
const char* ReadLoomDir(void);

/* A menu page: the "MENUDIR=" value (default "/") with the page's name appended directly, no
 * '/' inserted: "StyleManger.htm" (the page's real name on the site) and "PatternManager.htm".
 * When the value and the name do not fit in 255 bytes together ("MENUDIR=" values over 240 and
 * 237 bytes), the result is empty rather than cut: a page path is otherwise never empty. */
const char* ReadStyleManagerPage(void);
const char* ReadPatternManagerPage(void);

/* The vell path: the first line of ./vellinfo.txt (at most 255 bytes, no key), default
 * "/vell/". An empty file, or one beginning with a NUL byte, gives the default; a first line
 * with nothing but its line end gives the empty value. */
const char* ReadVellPath(void);

/* Computes the data root (the data directory reached from the working directory by a relative
 * path) and fills the eleven path-table entries below, in their declared order. */
void BuildPathTable(void);

/* 1 when every entry of the last BuildPathTable holds its whole path; 0 when the data root was
 * too long for at least one entry to fit in 255 bytes. An entry that does not fit is left
 * empty, never truncated, so a caller must check this before forming paths from the table. */
int PathTableIsComplete(void);

/* The data root that BuildPathTable uses, e.g. "../kvrdata/": the "KVRDATA=" path reached from
 * the "KVR=" directory by climbing one "../" per '/' of the "KVR=" value less one (a value with
 * no '/' counts as one with a single '/'), without the last '/'. */
const char* MakeDataRoot(void);
/* The "GLBDIR=" path in the same relative form; with the defaults ".../" ("..", then "./"). */
const char* MakeGlbRoot(void);
/* A relative root longer than 255 bytes is never cut: both then return the empty text, as the
 * path table leaves an entry that does not fit empty (BuildPathTable then reports the table
 * incomplete). A root is also empty, legitimately, when its target path is empty and the
 * "KVR=" path has at most one '/'. */

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

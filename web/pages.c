#define _POSIX_C_SOURCE 200809L
#include "pages.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "cgi_input.h"
#include "formdata.h"
#include "page.h"
#include "siteconfig.h"
#include "store_files.h"

/* The history page shows this many of the last lines. */
#define HISTORY_LINES 50
/* A history line is five fields of at most 255 bytes and its line end, so this much of the end
 * of the history always holds the last HISTORY_LINES lines whole. */
#define HISTORY_TAIL ((size_t)(HISTORY_LINES + 1) * 1300)
/* The machine page looks for a file under at most this many styles. */
#define STYLE_LIMIT 1000

/* The store path relative to the data root, for the page. */
static const char* StoreRelative(const char* path) {
  const char* root = MakeDataRoot();
  size_t length = strlen(root);
  return strncmp(path, root, length) == 0 ? path + length : path;
}

/* Says on the page that an entry was not read, and why. */
static void NotShown(const char* path, StoreFileState state) {
  fputs("<p class=\"note\" id=\"not-shown\">", stdout);
  WriteHtmlText(stdout, StoreRelative(path));
  fputs(" is ", stdout);
  WriteHtmlText(stdout, StoreFileStateText(state));
  fputs(": it is not shown.</p>\n", stdout);
}

/* Opens a store file for a page; a missing one reads as empty (no save has written it). Says
 * on the page when the entry is something else. Returns the file or NULL. */
static FILE* OpenForPage(const char* path) {
  FILE* file;
  StoreFileState state = OpenStoreFile(path, &file);
  if (state != kStoreFileOpen && state != kStoreFileMissing) NotShown(path, state);
  return file;
}

static int LinkToPage(const char* page, const char* name) {
  const char* pair[] = {"page", page, "name", name};
  return WriteLink(pair, 2, name);
}

/* Shows one machine of MachineList: a link to its files and its last stamp, the first line of
 * Machine/MACHINE without the machine's name in front. */
static int ShowMachine(const char* name, void* context) {
  char path[PATH_SIZE], stamp[600];
  FILE* file = NULL;
  StoreFileState state = kStoreFileMissing;
  (void)context;
  fputs("<li>", stdout);
  if (LinkToPage("machine", name) != 0) return -1;
  fputs(" <span class=\"stamp\">", stdout);
  if (IsStoreName(name) && JoinPath(path, MachineDir, name) == 0) {
    state = OpenStoreFile(path, &file);
  }
  if (file != NULL && fgets(stamp, sizeof stamp, file) != NULL) {
    size_t length = strcspn(stamp, "\r\n");
    size_t skip = strlen(name) + 1;
    /* A stamp names its machine first; show what follows, or the whole line if it does not. */
    if (length < skip || strncmp(stamp, name, skip - 1) != 0 || stamp[skip - 1] != ',') skip = 0;
    WriteHtml(stdout, stamp + skip, length - skip);
  } else if (state == kStoreFileLink || state == kStoreFileOther) {
    fputs("stamp not shown: ", stdout);
    WriteHtmlText(stdout, StoreFileStateText(state));
  } else {
    fputs("no stamp", stdout);
  }
  if (file != NULL) fclose(file);
  fputs("</span></li>\n", stdout);
  return 0;
}

static int ShowStyleLink(const char* word, void* context) {
  (void)context;
  fputs("<li>", stdout);
  if (LinkToPage("style", word) != 0) return -1;
  fputs("</li>\n", stdout);
  return 0;
}

/* 1 when SetValueFile/STYLE/NAME is a stored file. */
static int IsStored(const char* style, const char* name) {
  char path[PATH_SIZE];
  struct stat st;
  if (!IsStoreName(style) || !IsStoreName(name)) return 0;
  if (snprintf(path, sizeof path, "%s%s/%s", SetValueFileDir, style, name) >= (int)sizeof path) {
    return 0;
  }
  return lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

static int LinkToFile(const char* style, const char* name, const char* text) {
  const char* pair[] = {"page", "file", "style", style, "name", name};
  return WriteLink(pair, 3, text);
}

/* The styles a file of a machine may be stored under, read from KindList. */
typedef struct {
  char** names;
  size_t count;
} StyleSet;

static int AddStyle(const char* word, void* context) {
  StyleSet* set = context;
  char** larger;
  if (set->count == STYLE_LIMIT) return 1;
  larger = realloc(set->names, (set->count + 1) * sizeof *larger);
  if (larger == NULL) return -1;
  set->names = larger;
  if ((set->names[set->count] = strdup(word)) == NULL) return -1;
  ++set->count;
  return 0;
}

/* A file name of a list, linked to its stored file: under the style of a style page, or under
 * every style that holds it for a machine page. */
typedef struct {
  const char* style;
  const StyleSet* styles;
} FileLinks;

static int ShowFile(const char* word, void* context) {
  const FileLinks* links = context;
  size_t i, found = 0;
  fputs("<li>", stdout);
  if (links->style != NULL) {
    if (IsStored(links->style, word)) {
      if (LinkToFile(links->style, word, word) != 0) return -1;
      found = 1;
    }
  } else {
    for (i = 0; i < links->styles->count; ++i) {
      const char* style = links->styles->names[i];
      if (!IsStored(style, word)) continue;
      if (found > 0) fputs(" ", stdout);
      if (LinkToFile(style, word, found == 0 ? word : style) != 0) return -1;
      ++found;
    }
  }
  if (found == 0) {
    WriteHtmlText(stdout, word);
    fputs(" <span class=\"note\">(not stored)</span>", stdout);
  }
  fputs("</li>\n", stdout);
  return 0;
}

/* A page listing the words of one list file in an element with the given id. */
static int ListPage(const char* title, const char* path, const char* id,
                    int (*visit)(const char*, void*), void* context) {
  FILE* list;
  PageStart(200, "OK", title);
  list = OpenForPage(path);
  printf("<ul id=\"%s\">\n", id);
  if (list != NULL) {
    if (ForEachWord(list, visit, context) < 0) fputs("<li>(read error)</li>\n", stdout);
    fclose(list);
  }
  fputs("</ul>\n", stdout);
  PageEnd();
  return 0;
}

static int FilesPage(int machine, const char* name) {
  char path[PATH_SIZE], kinds[PATH_SIZE];
  char* title;
  StyleSet styles = {NULL, 0};
  FileLinks links = {NULL, &styles};
  size_t i;
  if (!IsStoreName(name)) return ErrorPage(400, "Bad Request", "That is not a name of the store.");
  if (JoinPath(path, machine ? MachineFDir : StyleFileDir, name) != 0 ||
      JoinPath(kinds, StyleListDir, "KindList") != 0) {
    return ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  }
  title = malloc(strlen(name) + 20);
  if (title == NULL) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  sprintf(title, "Files of %s %s", machine ? "machine" : "style", name);
  if (machine) {
    FILE* kind_list;
    StoreFileState state = OpenStoreFile(kinds, &kind_list);
    if (state == kStoreFileOpen) {
      ForEachWord(kind_list, AddStyle, &styles);
      fclose(kind_list);
    }
  } else {
    links.style = name;
  }
  ListPage(title, path, "files", ShowFile, &links);
  for (i = 0; i < styles.count; ++i) free(styles.names[i]);
  free(styles.names);
  free(title);
  return 0;
}

/* One history line as a table row: FILE,STYLE,BEAM,COMMENT,MACHINE. A value may hold a comma,
 * which the line cannot tell from a separator: such a line is shown whole and called
 * ambiguous. */
static void HistoryRow(const char* line, size_t length) {
  size_t fields = 1, i, start = 0;
  for (i = 0; i < length; ++i) fields += line[i] == ',';
  if (fields != 5) {
    fputs("<tr class=\"ambiguous\"><td colspan=\"5\">", stdout);
    WriteHtml(stdout, line, length);
    printf(
        "</td><td class=\"note\">ambiguous: %zu fields where five were written; a value "
        "holds a comma, or the line was cut</td></tr>\n",
        fields);
    return;
  }
  fputs("<tr>", stdout);
  for (i = 0; i <= length; ++i) {
    if (i == length || line[i] == ',') {
      fputs("<td>", stdout);
      WriteHtml(stdout, line + start, i - start);
      fputs("</td>", stdout);
      start = i + 1;
    }
  }
  fputs("<td></td></tr>\n", stdout);
}

/* The last HISTORY_LINES lines of the save history, newest first. */
static int HistoryPage(void) {
  char path[PATH_SIZE];
  char* tail;
  size_t length = 0, start = 0, end;
  long size;
  FILE* history;
  if (JoinPath(path, SetValueFileListDir, "SetValueList") != 0) {
    return ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  }
  tail = malloc(HISTORY_TAIL + 1);
  if (tail == NULL) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  PageStart(200, "OK", "Save history");
  history = OpenForPage(path);
  if (history != NULL) {
    if (fseek(history, 0, SEEK_END) == 0 && (size = ftell(history)) >= 0) {
      long from = size > (long)HISTORY_TAIL ? size - (long)HISTORY_TAIL : 0;
      if (fseek(history, from, SEEK_SET) == 0) length = fread(tail, 1, HISTORY_TAIL, history);
      /* Read from the middle of the file, the first line is a part of one: skip it. */
      if (from > 0) {
        while (start < length && tail[start] != '\n') ++start;
        if (start < length) ++start;
      }
    }
    fclose(history);
  }
  fputs(
      "<table id=\"history\">\n<thead><tr><th>File name</th><th>Style</th><th>Beam</th>"
      "<th>Comment</th><th>Machine</th><th>Note</th></tr></thead>\n<tbody>\n",
      stdout);
  /* From the last line backwards, at most HISTORY_LINES of them. */
  end = length;
  {
    size_t shown = 0;
    while (end > start && shown < HISTORY_LINES) {
      size_t line_end = end, line_start;
      if (tail[line_end - 1] == '\n') --line_end;
      line_start = line_end;
      while (line_start > start && tail[line_start - 1] != '\n') --line_start;
      end = line_start;
      {
        size_t text_end = line_end;
        if (text_end > line_start && tail[text_end - 1] == '\r') --text_end;
        HistoryRow(tail + line_start, text_end - line_start);
        ++shown;
      }
    }
  }
  fputs("</tbody>\n</table>\n", stdout);
  PageEnd();
  free(tail);
  return 0;
}

/* The stored bytes of SetValueFile/STYLE/NAME, as plain text. */
static int StoredFilePage(const char* style, const char* name) {
  char path[PATH_SIZE], buffer[8192];
  FILE* file;
  StoreFileState state;
  size_t got;
  if (!IsStoreName(style) || !IsStoreName(name)) {
    return ErrorPage(400, "Bad Request", "That is not a name of the store.");
  }
  if (snprintf(path, sizeof path, "%s%s/%s", SetValueFileDir, style, name) >= (int)sizeof path) {
    return ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  }
  state = OpenStoreFile(path, &file);
  if (state == kStoreFileMissing) {
    return ErrorPage(404, "Not Found", "No file of that name is stored under that style.");
  }
  if (state != kStoreFileOpen) {
    char why[PATH_SIZE + 100];
    snprintf(why, sizeof why, "%s is %s: it is not shown.", StoreRelative(path),
             StoreFileStateText(state));
    return ErrorPage(state == kStoreFileError ? 500 : 403,
                     state == kStoreFileError ? "Internal Server Error" : "Forbidden", why);
  }
  fputs("Status: 200 OK\r\n", stdout);
  SecurityHeaders();
  fputs("Content-Type: text/plain; charset=UTF-8\r\n\r\n", stdout);
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) fwrite(buffer, 1, got, stdout);
  fclose(file);
  return 0;
}

static int SaveFormPage(void) {
  PageStart(200, "OK", "Save a settings file");
  WriteSaveForm(NULL, NULL, -1);
  PageEnd();
  return 0;
}

static int StylesPage(void) {
  char styles[PATH_SIZE];
  if (JoinPath(styles, StyleListDir, "KindList") != 0) {
    return ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  }
  return ListPage("Styles", styles, "styles", ShowStyleLink, NULL);
}

int ShowPage(void) {
  const char* query = getenv("QUERY_STRING");
  char* text = strdup(query != NULL ? query : "");
  const char* page;
  PairList pairs;
  int result;
  if (text == NULL) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  InitPairList(&pairs);
  if (ParseFormData(text, &pairs) < 0) {
    free(text);
    return ErrorPage(500, "Internal Server Error", "Out of memory.");
  }
  page = GetPairValue("page", &pairs);
  BuildPathTable();
  if (*page == '\0') {
    result = SaveFormPage();
  } else if (!PathTableIsComplete()) {
    result = ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  } else if (strcmp(page, "machines") == 0) {
    result = ListPage("Machines", MachineListFile, "machines", ShowMachine, NULL);
  } else if (strcmp(page, "styles") == 0) {
    result = StylesPage();
  } else if (strcmp(page, "history") == 0) {
    result = HistoryPage();
  } else if (strcmp(page, "machine") == 0 || strcmp(page, "style") == 0) {
    result = FilesPage(page[0] == 'm', GetPairValue("name", &pairs));
  } else if (strcmp(page, "file") == 0) {
    result = StoredFilePage(GetPairValue("style", &pairs), GetPairValue("name", &pairs));
  } else {
    result = ErrorPage(404, "Not Found", "There is no such page.");
  }
  FreePairList(&pairs);
  free(text);
  return result;
}

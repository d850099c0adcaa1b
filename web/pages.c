#define _POSIX_C_SOURCE 200809L
#include "pages.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "cgi_input.h"
#include "formdata.h"
#include "loomreg_store.h"
#include "page.h"
#include "siteconfig.h"
#include "store_files.h"

/* The history page shows this many of the last lines. */
#define HISTORY_LINES 50
/* The most bytes of a machine's stamp line a page shows. */
#define STAMP_SHOWN 599
/* The machine page looks for a file under at most this many styles. */
#define STYLE_LIMIT 1000

/* The store the pages read, open while ShowPage runs. */
static LoomregStore* store;

/* Says on the page that the file the store read last was not read, and why: a missing one
 * reads as empty (no save has written it), and a read that failed part-way is said in place. */
static void NoteNotShown(LoomregStoreResult state) {
  if (state == LOOMREG_STORE_OK || state == LOOMREG_STORE_MISSING ||
      state == LOOMREG_STORE_READ_ERROR || state == LOOMREG_STORE_NO_MEMORY) {
    return;
  }
  fputs("<p class=\"note\" id=\"not-shown\">", stdout);
  WriteHtmlText(stdout, LoomregStoreLastPath(store));
  fputs(" is ", stdout);
  WriteHtmlText(stdout, StoreFileStateText(state));
  fputs(": it is not shown.</p>\n", stdout);
}

static int LinkToPage(const char* page, const char* name) {
  const char* pair[] = {"page", page, "name", name};
  return WriteLink(pair, 2, name);
}

/* Shows one machine of MachineList: a link to its files and its last stamp, the first line of
 * Machine/MACHINE without the machine's name in front. */
static int ShowMachine(const char* name, void* context) {
  char* stamp = NULL;
  LoomregStoreResult state;
  (void)context;
  fputs("<li>", stdout);
  if (LinkToPage("machine", name) != 0) return -1;
  fputs(" <span class=\"stamp\">", stdout);
  state = LoomregStoreMachineStamp(store, name, &stamp);
  if (stamp != NULL) {
    size_t length = strlen(stamp);
    size_t skip = strlen(name) + 1;
    if (length > STAMP_SHOWN) length = STAMP_SHOWN;
    /* A stamp names its machine first; show what follows, or the whole line if it does not. */
    if (length < skip || strncmp(stamp, name, skip - 1) != 0 || stamp[skip - 1] != ',') skip = 0;
    WriteHtml(stdout, stamp + skip, length - skip);
  } else if (state == LOOMREG_STORE_LINK || state == LOOMREG_STORE_NOT_REGULAR) {
    fputs("stamp not shown: ", stdout);
    WriteHtmlText(stdout, StoreFileStateText(state));
  } else {
    fputs("no stamp", stdout);
  }
  LoomregStoreFreeText(stamp);
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
  return LoomregStoreHasFile(store, style, name) == LOOMREG_STORE_OK;
}

static int LinkToFile(const char* style, const char* name, const char* text) {
  const char* pair[] = {"page", "file", "style", style, "name", name};
  return WriteLink(pair, 3, text);
}

/* The styles a file of a machine may be stored under: the first STYLE_LIMIT words of KindList. */
typedef struct {
  LoomregStoreList list;
  size_t count;
} StyleSet;

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
      const char* style = links->styles->list.items[i].text;
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

/* A page listing the words of one list, as the store read them (`state`, `words`), in an
 * element with the given id. Frees the words. */
static int ListPage(const char* title, LoomregStoreResult state, LoomregStoreList* words,
                    const char* id, int (*visit)(const char*, void*), void* context) {
  size_t i;
  int failed = state == LOOMREG_STORE_READ_ERROR || state == LOOMREG_STORE_NO_MEMORY;
  PageStart(200, "OK", title);
  NoteNotShown(state);
  printf("<ul id=\"%s\">\n", id);
  for (i = 0; i < words->count; ++i) {
    if (visit(words->items[i].text, context) < 0) {
      failed = 1;
      break;
    }
  }
  if (failed) fputs("<li>(read error)</li>\n", stdout);
  fputs("</ul>\n", stdout);
  PageEnd();
  LoomregStoreFreeList(words);
  return 0;
}

static int FilesPage(int machine, const char* name) {
  char* title;
  StyleSet styles = {{NULL, 0}, 0};
  FileLinks links = {NULL, &styles};
  LoomregStoreList files;
  LoomregStoreResult state;
  if (!IsStoreName(name)) return ErrorPage(400, "Bad Request", "That is not a name of the store.");
  title = malloc(strlen(name) + 20);
  if (title == NULL) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  sprintf(title, "Files of %s %s", machine ? "machine" : "style", name);
  if (machine) {
    state = LoomregStoreStyles(store, &styles.list);
    if (state == LOOMREG_STORE_OK || state == LOOMREG_STORE_READ_ERROR) {
      styles.count = styles.list.count < STYLE_LIMIT ? styles.list.count : STYLE_LIMIT;
    }
    state = LoomregStoreMachineFiles(store, name, &files);
  } else {
    links.style = name;
    state = LoomregStoreStyleFiles(store, name, &files);
  }
  ListPage(title, state, &files, "files", ShowFile, &links);
  LoomregStoreFreeList(&styles.list);
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
  LoomregStoreList lines;
  size_t i;
  LoomregStoreResult state = LoomregStoreHistory(store, HISTORY_LINES, &lines);
  if (state == LOOMREG_STORE_NO_MEMORY) {
    return ErrorPage(500, "Internal Server Error", "Out of memory.");
  }
  PageStart(200, "OK", "Save history");
  NoteNotShown(state);
  fputs(
      "<table id=\"history\">\n<thead><tr><th>File name</th><th>Style</th><th>Beam</th>"
      "<th>Comment</th><th>Machine</th><th>Note</th></tr></thead>\n<tbody>\n",
      stdout);
  for (i = 0; i < lines.count; ++i) HistoryRow(lines.items[i].text, lines.items[i].length);
  fputs("</tbody>\n</table>\n", stdout);
  PageEnd();
  LoomregStoreFreeList(&lines);
  return 0;
}

/* The stored bytes of SetValueFile/STYLE/NAME, as plain text. */
static int StoredFilePage(const char* style, const char* name) {
  char buffer[8192];
  FILE* file = NULL;
  LoomregStoreResult state;
  size_t got;
  int fd;
  if (!IsStoreName(style) || !IsStoreName(name)) {
    return ErrorPage(400, "Bad Request", "That is not a name of the store.");
  }
  state = LoomregStoreOpenFile(store, style, name, &fd);
  if (state == LOOMREG_STORE_OK && (file = fdopen(fd, "rb")) == NULL) {
    close(fd);
    state = LOOMREG_STORE_OPEN_ERROR;
  }
  if (state == LOOMREG_STORE_MISSING) {
    return ErrorPage(404, "Not Found", "No file of that name is stored under that style.");
  }
  if (state != LOOMREG_STORE_OK) {
    int refused = state == LOOMREG_STORE_LINK || state == LOOMREG_STORE_NOT_REGULAR;
    char why[PATH_SIZE + 100];
    snprintf(why, sizeof why, "%s is %s: it is not shown.", LoomregStoreLastPath(store),
             StoreFileStateText(state));
    return ErrorPage(refused ? 403 : 500, refused ? "Forbidden" : "Internal Server Error", why);
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
  LoomregStoreList styles;
  LoomregStoreResult state = LoomregStoreStyles(store, &styles);
  return ListPage("Styles", state, &styles, "styles", ShowStyleLink, NULL);
}

static int MachinesPage(void) {
  LoomregStoreList machines;
  LoomregStoreResult state = LoomregStoreMachines(store, &machines);
  return ListPage("Machines", state, &machines, "machines", ShowMachine, NULL);
}

int ShowPage(void) {
  const char* query = getenv("QUERY_STRING");
  char* text = strdup(query != NULL ? query : "");
  const char* page;
  PairList pairs;
  LoomregStoreResult opened;
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
  } else if ((opened = LoomregStoreOpen(&store)) != LOOMREG_STORE_OK) {
    result = ErrorPage(
        500, "Internal Server Error",
        opened == LOOMREG_STORE_BAD_TABLE ? "The store's paths are too long." : "Out of memory.");
  } else if (strcmp(page, "machines") == 0) {
    result = MachinesPage();
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
  LoomregStoreClose(store);
  store = NULL;
  FreePairList(&pairs);
  free(text);
  return result;
}

/* The web front of the store, a CGI program. GET shows the save form and read-only pages of
 * the store's catalogues; POST saves a settings file the way the web application does: the
 * settings go into an upload of a name of their own in SetValueFile/, loomreg files it, and the
 * page shows loomreg's outcome.
 *
 * It runs in the application directory (the web server starts a CGI in its own directory) and
 * finds the store through ./KVR_PATH.inf, as loomreg does. Pages are UTF-8; every text that
 * comes from the store or the request is HTML-escaped. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cgi_input.h"
#include "formdata.h"
#include "siteconfig.h"

extern char** environ;

/* The most of loomreg's standard error shown on the page. */
#define MESSAGE_LIMIT 4096
/* The history page shows this many of the last lines. */
#define HISTORY_LINES 50
/* A history line is five fields of at most 255 bytes and its line end, so this much of the end
 * of the history always holds the last HISTORY_LINES lines whole. */
#define HISTORY_TAIL ((size_t)(HISTORY_LINES + 1) * 1300)
/* Paths are built from path-table entries (at most 255 bytes) and a name (at most 255). */
#define PATH_SIZE 1024

/* The request's fields, in the order of loomreg's words. */
static const char* const kFields[] = {"filename_arg", "style_arg",   "beam_arg",
                                      "koment_arg",   "machine_arg", "top_beam_arg"};
#define FIELD_COUNT (sizeof kFields / sizeof kFields[0])
static const char* const kFieldLabels[] = {"File name", "Style",   "Beam",
                                           "Comment",   "Machine", "Top beam"};

/* ---- Pages ---------------------------------------------------------------------------------- */

static void PageStart(int status, const char* reason, const char* title) {
  printf("Status: %d %s\r\n", status, reason);
  fputs("Content-Type: text/html; charset=UTF-8\r\nCache-Control: no-store\r\n\r\n", stdout);
  fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"UTF-8\">\n<title>", stdout);
  WriteHtmlText(stdout, title);
  fputs(
      "</title>\n<style>body{font-family:sans-serif;margin:2em}label{display:inline-block;"
      "width:8em}input{width:24em}textarea{width:32em}nav a{margin-right:1em}"
      "pre{background:#eee;padding:.5em}</style>\n</head>\n<body>\n"
      "<nav><a href=\"?\">Save</a><a href=\"?page=machines\">Machines</a>"
      "<a href=\"?page=styles\">Styles</a><a href=\"?page=history\">History</a></nav>\n<h1>",
      stdout);
  WriteHtmlText(stdout, title);
  fputs("</h1>\n", stdout);
}

static void PageEnd(void) { fputs("</body>\n</html>\n", stdout); }

/* A page for a request the program cannot serve: the status and one line saying why. */
static int ErrorPage(int status, const char* reason, const char* why) {
  PageStart(status, reason, reason);
  fputs("<p id=\"error\">", stdout);
  WriteHtmlText(stdout, why);
  fputs("</p>\n", stdout);
  PageEnd();
  return 0;
}

/* A link to this program with the query `?page=PAGE&name=NAME`, encoded by the form-data
 * module. Returns 0, or -1 when memory ran out. */
static int WriteLink(const char* page, const char* name, const char* text) {
  PairList query;
  char* href;
  InitPairList(&query);
  AppendPair("page", page, &query);
  if (query.pairCount == 1) AppendPair("name", name, &query);
  href = query.pairCount == 2 ? BuildQueryString(&query) : NULL;
  FreePairList(&query);
  if (href == NULL) return -1;
  fputs("<a href=\"", stdout);
  WriteHtmlText(stdout, href);
  fputs("\">", stdout);
  WriteHtmlText(stdout, text);
  fputs("</a>", stdout);
  free(href);
  return 0;
}

/* ---- Reading the store ---------------------------------------------------------------------- */

/* Joins a path-table entry and a name; 0, or -1 when they do not fit. */
static int JoinPath(char* path, const char* directory, const char* name) {
  int written = snprintf(path, PATH_SIZE, "%s%s", directory, name);
  return written < 0 || written >= PATH_SIZE ? -1 : 0;
}

static int IsListSpace(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

/* Calls `visit` for each word of a list file, the way loomreg reads lists: space, tab, CR, LF,
 * VT and FF separate words. Returns 0, or -1 when memory ran out or reading failed. */
static int ForEachWord(FILE* list, int (*visit)(const char* word, void* context), void* context) {
  size_t size = 256, used = 0;
  char* word = malloc(size);
  int c, result = 0;
  if (word == NULL) return -1;
  while (result == 0) {
    c = getc(list);
    if (c == EOF || IsListSpace(c)) {
      if (used > 0) {
        word[used] = '\0';
        result = visit(word, context);
        used = 0;
      }
      if (c == EOF) break;
      continue;
    }
    if (used + 1 == size) {
      char* larger = size < ((size_t)1 << 20) ? realloc(word, size * 2) : NULL;
      if (larger == NULL) {
        result = -1;
        break;
      }
      word = larger;
      size *= 2;
    }
    word[used++] = (char)c;
  }
  if (ferror(list)) result = -1;
  free(word);
  return result;
}

/* Shows one machine of MachineList: its name, a link to its files and its last stamp, the
 * first line of Machine/MACHINE without the machine's name in front. */
static int ShowMachine(const char* name, void* context) {
  char path[PATH_SIZE];
  char stamp[600];
  FILE* file = NULL;
  (void)context;
  fputs("<li>", stdout);
  if (WriteLink("machine", name, name) != 0) return -1;
  fputs(" <span class=\"stamp\">", stdout);
  if (IsStoreName(name) && JoinPath(path, MachineDir, name) == 0) file = fopen(path, "rb");
  if (file != NULL && fgets(stamp, sizeof stamp, file) != NULL) {
    size_t length = strcspn(stamp, "\r\n");
    size_t skip = strlen(name) + 1;
    /* A stamp names its machine first; show what follows, or the whole line if it does not. */
    if (length < skip || strncmp(stamp, name, skip - 1) != 0 || stamp[skip - 1] != ',') skip = 0;
    WriteHtml(stdout, stamp + skip, length - skip);
  } else {
    fputs("no stamp", stdout);
  }
  if (file != NULL) fclose(file);
  fputs("</span></li>\n", stdout);
  return 0;
}

/* Shows one word of a list as a list item, or as a link to the page of that name. */
static int ShowWord(const char* word, void* page) {
  fputs("<li>", stdout);
  if (page != NULL) {
    if (WriteLink((const char*)page, word, word) != 0) return -1;
  } else {
    WriteHtmlText(stdout, word);
  }
  fputs("</li>\n", stdout);
  return 0;
}

/* A page listing the words of one list file, in an element with the given id. A list that
 * does not exist yet is shown empty: no save has written it. */
static int ListPage(const char* title, const char* path, const char* id, const char* link_page,
                    int (*visit)(const char*, void*)) {
  FILE* list = fopen(path, "rb");
  if (list == NULL && errno != ENOENT) {
    return ErrorPage(500, "Internal Server Error", "A list of the store cannot be read.");
  }
  PageStart(200, "OK", title);
  printf("<ul id=\"%s\">\n", id);
  if (list != NULL) {
    if (ForEachWord(list, visit, (void*)link_page) != 0) fputs("<li>(read error)</li>\n", stdout);
    fclose(list);
  }
  fputs("</ul>\n", stdout);
  PageEnd();
  return 0;
}

/* The last HISTORY_LINES lines of the save history, oldest first. */
static int HistoryPage(void) {
  char path[PATH_SIZE];
  char* tail;
  size_t length = 0, start = 0, count = 0, i;
  long size;
  FILE* history;
  if (JoinPath(path, SetValueFileListDir, "SetValueList") != 0) {
    return ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  }
  tail = malloc(HISTORY_TAIL + 1);
  if (tail == NULL) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  history = fopen(path, "rb");
  if (history == NULL && errno != ENOENT) {
    free(tail);
    return ErrorPage(500, "Internal Server Error", "The save history cannot be read.");
  }
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
  /* Skip all but the last HISTORY_LINES lines (a last line without a line end counts too). */
  for (i = start; i < length; ++i) count += tail[i] == '\n';
  if (length > start && tail[length - 1] != '\n') ++count;
  for (; count > HISTORY_LINES; --count) {
    while (start < length && tail[start] != '\n') ++start;
    ++start;
  }
  PageStart(200, "OK", "Save history");
  fputs("<ol id=\"history\">\n", stdout);
  while (start < length) {
    size_t end = start;
    while (end < length && tail[end] != '\n') ++end;
    size_t text_end = end > start && tail[end - 1] == '\r' ? end - 1 : end;
    fputs("<li>", stdout);
    WriteHtml(stdout, tail + start, text_end - start);
    fputs("</li>\n", stdout);
    start = end + 1;
  }
  fputs("</ol>\n", stdout);
  PageEnd();
  free(tail);
  return 0;
}

static int SaveFormPage(void) {
  size_t i;
  PageStart(200, "OK", "Save a settings file");
  fputs(
      "<form method=\"post\" action=\"\" enctype=\"application/x-www-form-urlencoded\" "
      "accept-charset=\"UTF-8\">\n",
      stdout);
  for (i = 0; i < FIELD_COUNT; ++i) {
    printf("<p><label for=\"%s\">%s</label><input type=\"text\" id=\"%s\" name=\"%s\"></p>\n",
           kFields[i], kFieldLabels[i], kFields[i], kFields[i]);
  }
  fputs(
      "<p><label for=\"settings\">Settings</label></p>\n"
      "<p><textarea id=\"settings\" name=\"settings\" rows=\"12\" cols=\"60\"></textarea></p>\n"
      "<p><button type=\"submit\" id=\"save\">Save</button></p>\n</form>\n",
      stdout);
  PageEnd();
  return 0;
}

/* GET: the page the query names, with `page=` and, for one machine or style, `name=`. */
static int ShowPage(void) {
  const char* query = getenv("QUERY_STRING");
  char* text = strdup(query != NULL ? query : "");
  char path[PATH_SIZE];
  const char *page, *name;
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
    result = ListPage("Machines", MachineListFile, "machines", NULL, ShowMachine);
  } else if (strcmp(page, "styles") == 0) {
    char styles[PATH_SIZE];
    result = JoinPath(styles, StyleListDir, "KindList") != 0
                 ? ErrorPage(500, "Internal Server Error", "The store's paths are too long.")
                 : ListPage("Styles", styles, "styles", "style", ShowWord);
  } else if (strcmp(page, "history") == 0) {
    result = HistoryPage();
  } else if (strcmp(page, "machine") == 0 || strcmp(page, "style") == 0) {
    int machine = page[0] == 'm';
    name = GetPairValue("name", &pairs);
    if (!IsStoreName(name)) {
      result = ErrorPage(400, "Bad Request", "That is not a name of the store.");
    } else if (JoinPath(path, machine ? MachineFDir : StyleFileDir, name) != 0) {
      result = ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
    } else {
      char* title = malloc(strlen(name) + 20);
      if (title == NULL) {
        result = ErrorPage(500, "Internal Server Error", "Out of memory.");
      } else {
        sprintf(title, "Files of %s %s", machine ? "machine" : "style", name);
        result = ListPage(title, path, "files", NULL, ShowWord);
        free(title);
      }
    }
  } else {
    result = ErrorPage(404, "Not Found", "There is no such page.");
  }
  FreePairList(&pairs);
  free(text);
  return result;
}

/* ---- Saving --------------------------------------------------------------------------------- */

/* A new text: `key`, '=' and `value`. NULL when memory runs out. */
static char* MakeWord(const char* key, const char* value) {
  size_t key_length = strlen(key), value_length = strlen(value);
  char* word = malloc(key_length + value_length + 2);
  if (word == NULL) return NULL;
  memcpy(word, key, key_length);
  word[key_length] = '=';
  memcpy(word + key_length + 1, value, value_length + 1);
  return word;
}

static int WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    data += written;
    length -= (size_t)written;
  }
  return 0;
}

/* Writes the settings into a new upload of a unique name in SetValueFile/ (mkstemp: created
 * with O_CREAT|O_EXCL, a name of letters and digits after "upload-"), with the mode the
 * process's umask gives a new file. Stores the path and the file's identity and returns 0, or
 * returns -1. */
static int WriteUpload(const char* settings, char* path, struct stat* identity) {
  mode_t mask;
  int fd;
  if (JoinPath(path, SetValueFileDir, "upload-XXXXXX") != 0) return -1;
  fd = mkstemp(path);
  if (fd < 0) return -1;
  mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0 || WriteAll(fd, settings, strlen(settings)) != 0 ||
      fstat(fd, identity) != 0) {
    close(fd);
    unlink(path);
    return -1;
  }
  if (close(fd) != 0) {
    unlink(path);
    return -1;
  }
  return 0;
}

/* Creates the request's own working directory inside the application directory, with a
 * KVR_PATH.inf that leads loomreg to the same store: TimeExec.dat is one per working directory,
 * so saves running at once each read their own outcome. The directory is one level below the
 * application directory, so "KVR=/r/" climbs one level and KVRDATA= carries the application's
 * data root on from there; an absolute data root is taken as it is ("KVR=/" climbs nowhere).
 * Returns 0 and stores the directory's name, or -1. */
static int MakeRequestDirectory(char* directory, size_t size) {
  const char* root = MakeDataRoot();
  char settings[PATH_SIZE];
  char path[PATH_SIZE];
  int written, fd;
  /* KVRDATA= takes at most 247 bytes. */
  if (strlen(root) + 1 > 247 || size < sizeof "save-XXXXXX") return -1;
  strcpy(directory, "save-XXXXXX");
  if (mkdtemp(directory) == NULL) return -1;
  written = root[0] == '/'
                ? snprintf(settings, sizeof settings, "KVR=/\r\nKVRDATA=%s\r\n", root)
                : snprintf(settings, sizeof settings, "KVR=/r/\r\nKVRDATA=/%s\r\n", root);
  if (written < 0 || (size_t)written >= sizeof settings ||
      snprintf(path, sizeof path, "%s/KVR_PATH.inf", directory) >= (int)sizeof path) {
    rmdir(directory);
    return -1;
  }
  fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0 && WriteAll(fd, settings, (size_t)written) != 0) {
    close(fd);
    fd = -1;
  } else if (fd >= 0 && close(fd) != 0) {
    fd = -1; /* close() releases the descriptor even when it fails */
  }
  if (fd < 0) {
    unlink(path);
    rmdir(directory);
    return -1;
  }
  return 0;
}

static void RemoveRequestDirectory(const char* directory) {
  char path[PATH_SIZE];
  snprintf(path, sizeof path, "%s/TimeExec.dat", directory);
  unlink(path);
  snprintf(path, sizeof path, "%s/KVR_PATH.inf", directory);
  unlink(path);
  rmdir(directory);
}

/* Starts loomreg in `directory` with the file-name word as argv[0], the five other words and
 * upload_arg=, without a shell; standard input and output go to /dev/null, standard error into
 * `message` (at most MESSAGE_LIMIT bytes kept). Waits for it. Returns 0, or -1 when it could
 * not be started or waited for. */
static int RunLoomreg(char* const* words, const char* directory, char* message) {
  posix_spawn_file_actions_t actions;
  int pipe_fds[2], app_fd, started, result = 0, status;
  size_t used = 0;
  pid_t pid;
  char buffer[512];
  ssize_t got;

  message[0] = '\0';
  if (pipe(pipe_fds) != 0) return -1;
  fcntl(pipe_fds[0], F_SETFD, FD_CLOEXEC);
  fcntl(pipe_fds[1], F_SETFD, FD_CLOEXEC);
  app_fd = open(".", O_RDONLY | O_CLOEXEC);
  if (app_fd < 0 || posix_spawn_file_actions_init(&actions) != 0) {
    if (app_fd >= 0) close(app_fd);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return -1;
  }
  started = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
            posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2) == 0;
  /* The child inherits the working directory: enter the request's directory to start it,
   * and come back to the application directory right after. */
  if (started && chdir(directory) == 0) {
    started = posix_spawn(&pid, LOOMREG_PROGRAM, &actions, NULL, words, environ) == 0;
    if (fchdir(app_fd) != 0) result = -1;
  } else {
    started = 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(app_fd);
  close(pipe_fds[1]);
  if (!started) {
    close(pipe_fds[0]);
    return -1;
  }
  /* Read standard error to its end before waiting, so that loomreg never blocks on a full pipe. */
  for (;;) {
    got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (used < MESSAGE_LIMIT) {
      size_t keep = (size_t)got < MESSAGE_LIMIT - used ? (size_t)got : MESSAGE_LIMIT - used;
      memcpy(message + used, buffer, keep);
      used += keep;
    }
  }
  message[used] = '\0';
  close(pipe_fds[0]);
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return result;
}

/* The run status loomreg left in the request's TimeExec.dat: 0 or -1, or 1 when it is missing
 * or says something else (the run could not record its result). */
static int ReadRunStatus(const char* directory) {
  char path[PATH_SIZE], text[8];
  size_t length = 0;
  FILE* file;
  snprintf(path, sizeof path, "%s/TimeExec.dat", directory);
  file = fopen(path, "rb");
  if (file == NULL) return 1;
  length = fread(text, 1, sizeof text, file);
  fclose(file);
  if (length == 3 && memcmp(text, "0\r\n", 3) == 0) return 0;
  if (length == 4 && memcmp(text, "-1\r\n", 4) == 0) return -1;
  return 1;
}

static void ShowOutcome(int run_status, const char* message, char* const* words) {
  size_t i;
  PageStart(200, "OK", run_status == 0 ? "Saved" : "Not saved");
  printf("<p>Run status: <span id=\"status\">%d</span></p>\n", run_status);
  if (message[0] != '\0') {
    fputs("<pre id=\"message\">", stdout);
    WriteHtmlText(stdout, message);
    fputs("</pre>\n", stdout);
  }
  fputs("<table id=\"request\">\n", stdout);
  for (i = 0; i < FIELD_COUNT; ++i) {
    printf("<tr><th>%s</th><td>", kFieldLabels[i]);
    WriteHtmlText(stdout, strchr(words[i], '=') + 1);
    fputs("</td></tr>\n", stdout);
  }
  fputs("</table>\n<p><a href=\"?\">Save another</a></p>\n", stdout);
  PageEnd();
}

/* An upload loomreg did not file is only a copy of the form's text: take it back. Once filed,
 * its name is free again and a later request may have drawn it, so the file there is removed
 * only if it is still this request's own. */
static void RemoveUnfiledUpload(const char* path, const struct stat* identity) {
  struct stat now;
  if (lstat(path, &now) == 0 && now.st_dev == identity->st_dev && now.st_ino == identity->st_ino) {
    unlink(path);
  }
}

/* Frees the words of a loomreg command line, up to its NULL. */
static void FreeWords(char** words) {
  size_t i;
  for (i = 0; words[i] != NULL; ++i) free(words[i]);
}

/* POST: save the form's settings. */
static int Save(char* body, size_t length) {
  PairList form;
  char* words[FIELD_COUNT + 2] = {NULL};
  const char* settings;
  char upload[PATH_SIZE], directory[32], message[MESSAGE_LIMIT + 1];
  struct stat identity;
  size_t i;
  int run_status, result = 0;

  if (HasEscapedNul(body, length)) {
    return ErrorPage(400, "Bad Request", "A field holds a NUL byte.");
  }
  InitPairList(&form);
  switch (ParseFormData(body, &form)) {
    case -1:
      return ErrorPage(500, "Internal Server Error", "Out of memory.");
    case 0:
      return ErrorPage(400, "Bad Request", "The form data is malformed or empty.");
    default:
      break;
  }
  for (i = 0; i < FIELD_COUNT; ++i) {
    const char* value = FindPairValue(kFields[i], &form);
    if (value == NULL) {
      char why[64];
      snprintf(why, sizeof why, "The field %s is missing.", kFields[i]);
      FreeWords(words);
      FreePairList(&form);
      return ErrorPage(400, "Bad Request", why);
    }
    words[i] = MakeWord(kFields[i], value);
    if (words[i] == NULL) {
      FreeWords(words);
      FreePairList(&form);
      return ErrorPage(500, "Internal Server Error", "Out of memory.");
    }
  }
  settings = FindPairValue("settings", &form);
  BuildPathTable();
  if (settings == NULL) {
    result = ErrorPage(400, "Bad Request", "The field settings is missing.");
  } else if (!PathTableIsComplete()) {
    result = ErrorPage(500, "Internal Server Error", "The store's paths are too long.");
  } else if (WriteUpload(settings, upload, &identity) != 0) {
    result = ErrorPage(500, "Internal Server Error", "The upload cannot be written.");
  } else if ((words[FIELD_COUNT] = MakeWord("upload_arg", strrchr(upload, '/') + 1)) == NULL) {
    unlink(upload);
    result = ErrorPage(500, "Internal Server Error", "Out of memory.");
  } else if (MakeRequestDirectory(directory, sizeof directory) != 0) {
    unlink(upload);
    result = ErrorPage(500, "Internal Server Error", "No working directory for the save.");
  } else {
    int ran = RunLoomreg(words, directory, message);
    run_status = ran == 0 ? ReadRunStatus(directory) : 1;
    RemoveRequestDirectory(directory);
    RemoveUnfiledUpload(upload, &identity);
    if (ran != 0) {
      result = ErrorPage(500, "Internal Server Error", "loomreg could not be started.");
    } else if (run_status == 1) {
      result = ErrorPage(500, "Internal Server Error",
                         "loomreg could not record the outcome of the save; it is unknown.");
    } else {
      ShowOutcome(run_status, message, words);
    }
  }
  FreeWords(words);
  FreePairList(&form);
  return result;
}

/* Reads the request body: CONTENT_LENGTH bytes of standard input, at most CGI_MAX_BODY.
 * Answers a request it cannot take with a 4xx page itself. */
static int ReceiveForm(void) {
  size_t length = 0, got = 0;
  char* body;
  int result;
  if (!IsFormContentType(getenv("CONTENT_TYPE"))) {
    return ErrorPage(415, "Unsupported Media Type",
                     "The form must be sent as application/x-www-form-urlencoded.");
  }
  switch (ParseContentLength(getenv("CONTENT_LENGTH"), CGI_MAX_BODY, &length)) {
    case -1:
      return ErrorPage(411, "Length Required", "The request has no valid length.");
    case 1:
      return ErrorPage(413, "Payload Too Large", "The form is larger than 1 MiB.");
    default:
      break;
  }
  body = malloc(length + 1);
  if (body == NULL) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  while (got < length) {
    ssize_t n = read(STDIN_FILENO, body + got, length - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += (size_t)n;
  }
  if (got < length) {
    free(body);
    return ErrorPage(400, "Bad Request", "The form ended before its length.");
  }
  body[length] = '\0';
  result = Save(body, length);
  free(body);
  return result;
}

/* Makes sure descriptors 0, 1 and 2 are open, so that no file or pipe opened later takes one
 * of their numbers and receives what was meant for standard output or error. */
static void OpenStandardDescriptors(void) {
  int fd;
  for (fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) close(opened);
    }
  }
}

int main(void) {
  const char* method = getenv("REQUEST_METHOD");
  OpenStandardDescriptors();
  /* A client that goes away must not end the program between the upload and its cleanup. */
  signal(SIGPIPE, SIG_IGN);
  if (method == NULL) {
    fputs("store_front: a CGI program; run it from a web server\n", stderr);
    return 2;
  }
  if (strcmp(method, "GET") == 0 || strcmp(method, "HEAD") == 0) {
    ShowPage();
  } else if (strcmp(method, "POST") == 0) {
    ReceiveForm();
  } else {
    fputs("Allow: GET, HEAD, POST\r\n", stdout);
    ErrorPage(405, "Method Not Allowed", "Only GET and POST are served.");
  }
  return fflush(stdout) == 0 ? 0 : 1;
}

#define _POSIX_C_SOURCE 200809L
#include "save.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cgi_input.h"
#include "formdata.h"
#include "loomreg_run.h"
#include "page.h"
#include "siteconfig.h"
#include "store_files.h"

/* The longest value loomreg takes for each of its six words. */
#define VALUE_LIMIT 255

/* The form as typed: values point into `form`; a missing field is NULL. */
typedef struct {
  PairList form;
  const char* values[FIELD_COUNT];
  const char* settings;
} Request;

/* What the store showed after a run: where the upload of this request is now. */
typedef struct {
  char upload[PATH_SIZE]; /* SetValueFile/upload-XXXXXX */
  char stored[PATH_SIZE]; /* SetValueFile/STYLE/FILE, or "" when the names make no path */
  struct stat identity;   /* the upload as written */
} Upload;

static const char* Value(const Request* r, int field) {
  return r->values[field] != NULL ? r->values[field] : "";
}

/* The store path relative to the data root, for the page. */
static const char* StoreRelative(const char* path) {
  const char* root = MakeDataRoot();
  size_t length = strlen(root);
  return strncmp(path, root, length) == 0 ? path + length : path;
}

static void Paragraph(const char* id, const char* text) {
  if (id != NULL) {
    printf("<p id=\"%s\" class=\"reason\">", id);
  } else {
    fputs("<p class=\"reason\">", stdout);
  }
  WriteHtmlText(stdout, text);
  fputs("</p>\n", stdout);
}

static void RequestTable(const Request* r) {
  int i;
  fputs("<table id=\"request\">\n", stdout);
  for (i = 0; i < FIELD_COUNT; ++i) {
    printf("<tr><th>%s</th><td>", kFieldLabels[i]);
    WriteHtmlText(stdout, Value(r, i));
    fputs("</td></tr>\n", stdout);
  }
  fputs("</table>\n", stdout);
}

static void FileLink(const Request* r, const char* text) {
  const char* pair[] = {
      "page", "file", "style", Value(r, kStyleField), "name", Value(r, kFileField)};
  fputs("<p>", stdout);
  WriteLink(pair, 3, text);
  fputs("</p>\n", stdout);
}

/* "refused": the reason, and the form again as typed with the field at fault marked. */
static int RefusedPage(int status, const char* reason, const Request* r, const char* why, int fault,
                       const int* run_status) {
  PageStart(status, reason, "Not saved");
  WriteOutcome("refused", run_status);
  Paragraph("message", why);
  fputs("<p>Nothing was saved. Correct the form below and save again.</p>\n", stdout);
  WriteSaveForm(r->values, r->settings, fault);
  PageEnd();
  return 0;
}

static int AlreadyStoredPage(const Request* r, const int* run_status) {
  char text[2 * VALUE_LIMIT + 200];
  PageStart(200, "OK", "Not saved: the name is taken");
  WriteOutcome("already-stored", run_status);
  snprintf(text, sizeof text,
           "A file named %s is already stored under the style %s, and it keeps its content: "
           "your settings were not saved. Choose another file name; the form below holds "
           "what you typed.",
           Value(r, kFileField), Value(r, kStyleField));
  Paragraph("explanation", text);
  FileLink(r, "View the file already stored");
  WriteSaveForm(r->values, r->settings, kFileField);
  PageEnd();
  return 0;
}

static int SavedPage(const Request* r, int run_status, const char* warning) {
  char text[2 * VALUE_LIMIT + 100];
  PageStart(200, "OK", "Saved");
  WriteOutcome("saved", &run_status);
  snprintf(text, sizeof text, "The settings were filed as %s under the style %s.",
           Value(r, kFileField), Value(r, kStyleField));
  Paragraph("explanation", text);
  if (warning != NULL) Paragraph("message", warning);
  FileLink(r, "View the stored file");
  RequestTable(r);
  fputs("<p><a href=\"?\">Save another</a></p>\n", stdout);
  PageEnd();
  return 0;
}

/* "unknown": loomreg gave no result. `kept` names where the settings are now, or is NULL when
 * they could not be kept. */
static int UnknownPage(const Request* r, const char* kept, const char* message) {
  PageStart(500, "Internal Server Error", "Outcome unknown");
  WriteOutcome("unknown", NULL);
  Paragraph("explanation",
            "The save did not finish, and whether the settings were filed is not known.");
  if (kept != NULL) {
    fputs("<p class=\"reason\">Your settings are kept in the store as <code id=\"kept\">", stdout);
    WriteHtmlText(stdout, kept);
    fputs("</code>.</p>\n", stdout);
  } else {
    Paragraph(NULL, "Your settings could not be kept in the store: keep a copy of them.");
  }
  Paragraph(NULL,
            "Ask the administrator to check the store (loomreg-check) and to finish the save; "
            "do not save these settings again under this name until then.");
  if (message[0] != '\0') Paragraph("message", message);
  RequestTable(r);
  PageEnd();
  return 0;
}

/* Writes the settings into a new upload of a unique name in SetValueFile/ (mkstemp: created
 * with O_CREAT|O_EXCL, a name of letters and digits after "upload-"), with the mode the
 * process's umask gives a new file. Returns 0, or -1. */
static int WriteUpload(const char* settings, Upload* upload) {
  char* path = upload->upload;
  size_t length = strlen(settings);
  mode_t mask;
  int fd;
  if (JoinPath(path, SetValueFileDir, "upload-XXXXXX") != 0) return -1;
  fd = mkstemp(path);
  if (fd < 0) return -1;
  mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) goto failed;
  while (length > 0) {
    ssize_t written = write(fd, settings, length);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) goto failed;
    settings += written;
    length -= (size_t)written;
  }
  if (fstat(fd, &upload->identity) != 0) goto failed;
  if (close(fd) != 0) {
    unlink(path);
    return -1;
  }
  return 0;
failed:
  close(fd);
  unlink(path);
  return -1;
}

/* 1 when `path` is the very file this request wrote. */
static int IsOurs(const char* path, const struct stat* identity) {
  struct stat now;
  return path[0] != '\0' && lstat(path, &now) == 0 && now.st_dev == identity->st_dev &&
         now.st_ino == identity->st_ino;
}

/* Removes every occurrence of `prefix` from `text`. */
static void RemoveAll(char* text, const char* prefix) {
  size_t length = strlen(prefix);
  char* found;
  if (length == 0) return;
  while ((found = strstr(text, prefix)) != NULL) {
    memmove(found, found + length, strlen(found + length) + 1);
  }
}

/* loomreg's standard error in plain words: without the program's name in front of each line
 * and with the store's paths relative to the data root. */
static void PlainMessage(char* message) {
  const char* root = MakeDataRoot();
  char climbed[PATH_SIZE];
  /* loomreg ran one level below the application directory. */
  if (root[0] != '/' && snprintf(climbed, sizeof climbed, "../%s", root) < (int)sizeof climbed) {
    RemoveAll(message, climbed);
  }
  RemoveAll(message, root);
  if (strncmp(message, "loomreg: ", 9) == 0) memmove(message, message + 9, strlen(message + 9) + 1);
  RemoveAll(message, "\nloomreg: ");
  while (message[0] != '\0' && message[strlen(message) - 1] == '\n') {
    message[strlen(message) - 1] = '\0';
  }
}

/* The field a refusal of loomreg names ("file name ...", "the value of "beam_arg=" ..."), or
 * -1. `why` is loomreg's text after "refused: ". */
static int FaultOf(const char* why) {
  static const char* const kStarts[] = {"file name", "style",   "beam",
                                        "comment",   "machine", "top beam"};
  int i;
  if (strncmp(why, "the value of \"", 14) == 0) {
    for (i = 0; i < FIELD_COUNT; ++i) {
      size_t length = strlen(kFields[i]);
      if (strncmp(why + 14, kFields[i], length) == 0 && why[14 + length] == '=') return i;
    }
  }
  for (i = 0; i < FIELD_COUNT; ++i) {
    size_t length = strlen(kStarts[i]);
    if (strncmp(why, kStarts[i], length) == 0 && why[length] == ' ') return i;
  }
  return -1;
}

/* Decides the outcome from what the store holds now, and answers. */
static int Outcome(const Request* r, Upload* u, int run_status, char* message) {
  int stored = IsOurs(u->stored, &u->identity);
  int waiting = IsOurs(u->upload, &u->identity);
  const char* refusal;
  PlainMessage(message);
  if (stored) {
    /* Filed: the upload this request wrote is the stored file. */
    if (run_status == RUN_NO_RESULT) return UnknownPage(r, StoreRelative(u->stored), message);
    if (run_status == -1) {
      size_t used = strlen(message);
      snprintf(message + used, MESSAGE_LIMIT + PATH_SIZE - used,
               "%sThe settings are stored, but a later step of the save stopped: ask the "
               "administrator to check the store.",
               used > 0 ? "\n" : "");
    }
    return SavedPage(r, run_status, message[0] != '\0' ? message : NULL);
  }
  if (run_status == 0 && waiting) {
    /* loomreg found the name stored (by another request since the look before the run) and
     * left the upload: it is only a copy of the form's text. */
    unlink(u->upload);
    return AlreadyStoredPage(r, &run_status);
  }
  if (run_status == -1) {
    refusal = strncmp(message, "refused: ", 9) == 0 ? message + 9 : NULL;
    if (refusal != NULL) {
      /* Refused before anything was touched. */
      if (waiting) unlink(u->upload);
      return RefusedPage(200, "OK", r, refusal, FaultOf(refusal), &run_status);
    }
    /* A step stopped the save part-way: the catalogues may name the file already, so the
     * upload stays for the administrator to finish the save. */
    if (waiting) {
      size_t used = strlen(message);
      snprintf(message + used, MESSAGE_LIMIT + PATH_SIZE - used,
               "%sThe save stopped part-way; your settings are kept as %s. Ask the "
               "administrator to finish the save.",
               used > 0 ? "\n" : "", StoreRelative(u->upload));
    }
    return RefusedPage(200, "OK", r, message, -1, &run_status);
  }
  if (waiting) return UnknownPage(r, StoreRelative(u->upload), message);
  /* The upload is gone without being filed: write the settings again, so that they are kept. */
  return UnknownPage(r, WriteUpload(r->settings, u) == 0 ? StoreRelative(u->upload) : NULL,
                     message);
}

/* Runs loomreg on a fresh upload and answers with the outcome. */
static int SaveRequest(const Request* r) {
  char* words[FIELD_COUNT + 2] = {NULL};
  char directory[32], message[MESSAGE_LIMIT + PATH_SIZE + 200];
  Upload upload;
  int i, run_status, result = 0;
  struct stat st;

  upload.stored[0] = '\0';
  if (IsStoreName(Value(r, kStyleField)) && IsStoreName(Value(r, kFileField)) &&
      snprintf(upload.stored, sizeof upload.stored, "%s%s/%s", SetValueFileDir,
               Value(r, kStyleField), Value(r, kFileField)) >= (int)sizeof upload.stored) {
    upload.stored[0] = '\0';
  }
  /* A name already stored is answered at once, so that it leaves no trace in the catalogues. */
  if (upload.stored[0] != '\0' && lstat(upload.stored, &st) == 0) {
    return AlreadyStoredPage(r, NULL);
  }
  for (i = 0; i < FIELD_COUNT; ++i) {
    size_t key = strlen(kFields[i]), value = strlen(Value(r, i));
    if ((words[i] = malloc(key + value + 2)) == NULL) goto out_of_memory;
    sprintf(words[i], "%s=%s", kFields[i], Value(r, i));
  }
  SweepRequestDirectories();
  if (WriteUpload(r->settings, &upload) != 0) {
    result = RefusedPage(500, "Internal Server Error", r,
                         "The settings cannot be written into the store; ask the administrator.",
                         -1, NULL);
    goto done;
  }
  if ((words[FIELD_COUNT] = malloc(strlen(upload.upload) + 16)) == NULL) {
    unlink(upload.upload);
    goto out_of_memory;
  }
  sprintf(words[FIELD_COUNT], "upload_arg=%s", strrchr(upload.upload, '/') + 1);
  if (MakeRequestDirectory(directory, sizeof directory) != 0) {
    unlink(upload.upload);
    result = RefusedPage(500, "Internal Server Error", r,
                         "The save has no working directory; ask the administrator.", -1, NULL);
    goto done;
  }
  run_status = RunLoomreg(words, directory, message);
  RemoveRequestDirectory(directory);
  if (run_status == -2) {
    unlink(upload.upload);
    result = RefusedPage(500, "Internal Server Error", r,
                         "The save program could not be started; ask the administrator.", -1, NULL);
  } else {
    result = Outcome(r, &upload, run_status, message);
  }
  goto done;
out_of_memory:
  result = ErrorPage(500, "Internal Server Error", "Out of memory.");
done:
  for (i = 0; i <= FIELD_COUNT; ++i) free(words[i]);
  return result;
}

/* The front's own checks of the form; 0, or -1 when it answered with a refusal. */
static int CheckForm(const Request* r, int nul) {
  static const int kRequired[] = {kFileField, kStyleField, kMachineField};
  char why[200];
  size_t i;
  if (nul) {
    return RefusedPage(400, "Bad Request", r, "The form holds a NUL byte, which no field may hold.",
                       -1, NULL),
           -1;
  }
  for (i = 0; i < sizeof kRequired / sizeof kRequired[0]; ++i) {
    if (Value(r, kRequired[i])[0] == '\0') {
      snprintf(why, sizeof why, "The field \"%s\" is required.", kFieldLabels[kRequired[i]]);
      return RefusedPage(400, "Bad Request", r, why, kRequired[i], NULL), -1;
    }
  }
  if (r->settings == NULL || r->settings[0] == '\0') {
    return RefusedPage(400, "Bad Request", r, "The settings text is required.", kSettingsField,
                       NULL),
           -1;
  }
  for (i = 0; i < FIELD_COUNT; ++i) {
    size_t length = strlen(Value(r, (int)i));
    if (length > VALUE_LIMIT) {
      snprintf(why, sizeof why, "The field \"%s\" is %zu bytes long; it may hold at most %d.",
               kFieldLabels[i], length, VALUE_LIMIT);
      return RefusedPage(400, "Bad Request", r, why, (int)i, NULL), -1;
    }
  }
  return 0;
}

int Save(char* body, size_t length) {
  Request r;
  int i, parsed, result = 0;
  /* A NUL, raw or escaped, would cut a value short without a word: refused, after the form is
   * read as far as it goes so that it can be shown again. */
  int nul = memchr(body, '\0', length) != NULL || HasEscapedNul(body, length);
  InitPairList(&r.form);
  parsed = ParseFormData(body, &r.form);
  if (parsed < 0) return ErrorPage(500, "Internal Server Error", "Out of memory.");
  for (i = 0; i < FIELD_COUNT; ++i) r.values[i] = FindPairValue(kFields[i], &r.form);
  r.settings = FindPairValue("settings", &r.form);
  BuildPathTable();
  if (parsed == 0 && !nul) {
    result = RefusedPage(400, "Bad Request", &r, "The form data is malformed or empty.", -1, NULL);
  } else if (CheckForm(&r, nul) == 0) {
    if (!PathTableIsComplete()) {
      result = RefusedPage(500, "Internal Server Error", &r,
                           "The store's paths are too long; ask the administrator.", -1, NULL);
    } else {
      result = SaveRequest(&r);
    }
  }
  FreePairList(&r.form);
  return result;
}

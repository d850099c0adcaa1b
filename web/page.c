#define _POSIX_C_SOURCE 200809L
#include "page.h"

#include <stdio.h>
#include <stdlib.h>

#include "cgi_input.h"
#include "formdata.h"

const char* const kFields[FIELD_COUNT] = {"filename_arg", "style_arg",   "beam_arg",
                                          "koment_arg",   "machine_arg", "top_beam_arg"};
const char* const kFieldLabels[FIELD_COUNT] = {"File name", "Style",   "Beam",
                                               "Comment",   "Machine", "Top beam"};

void SecurityHeaders(void) {
  /* The one stylesheet is inline; no page runs a script or loads anything from elsewhere. */
  fputs(
      "X-Content-Type-Options: nosniff\r\n"
      "Content-Security-Policy: default-src 'self'; style-src 'unsafe-inline'; "
      "script-src 'none'; object-src 'none'; base-uri 'none'; form-action 'self'; "
      "frame-ancestors 'none'\r\n"
      "X-Frame-Options: DENY\r\n"
      "Referrer-Policy: same-origin\r\n"
      "Cache-Control: no-store\r\n",
      stdout);
}

void PageStart(int status, const char* reason, const char* title) {
  printf("Status: %d %s\r\n", status, reason);
  SecurityHeaders();
  fputs("Content-Type: text/html; charset=UTF-8\r\n\r\n", stdout);
  fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"UTF-8\">\n<title>", stdout);
  WriteHtmlText(stdout, title);
  fputs(
      "</title>\n<style>body{font-family:sans-serif;margin:2em;max-width:60em}"
      "label{display:inline-block;width:8em}input{width:24em;max-width:90%}"
      "textarea{width:40em;max-width:100%}nav a{margin-right:1em}"
      ".fault{outline:2px solid #b00;background:#fee}.fault-note{color:#b00}"
      ".reason,.note,td,li{white-space:pre-wrap;overflow-wrap:anywhere}"
      ".hint,.code{color:#555;font-size:small}"
      "table{border-collapse:collapse}th,td{border:1px solid #bbb;padding:.2em .5em;"
      "text-align:left;vertical-align:top}tr.ambiguous td{background:#ffd}</style>\n"
      "</head>\n<body>\n"
      "<nav><a href=\"?\">Save</a><a href=\"?page=machines\">Machines</a>"
      "<a href=\"?page=styles\">Styles</a><a href=\"?page=history\">History</a></nav>\n<h1>",
      stdout);
  WriteHtmlText(stdout, title);
  fputs("</h1>\n", stdout);
}

void PageEnd(void) { fputs("</body>\n</html>\n", stdout); }

int ErrorPage(int status, const char* reason, const char* why) {
  PageStart(status, reason, reason);
  fputs("<p id=\"error\" class=\"reason\">", stdout);
  WriteHtmlText(stdout, why);
  fputs("</p>\n", stdout);
  PageEnd();
  return 0;
}

int WriteLink(const char* const* pair, size_t pairs, const char* text) {
  PairList query;
  char *built = NULL, *href = NULL;
  size_t i;
  InitPairList(&query);
  for (i = 0; i < pairs && query.pairCount == (int)i; ++i) {
    AppendPair(pair[2 * i], pair[2 * i + 1], &query);
  }
  if (query.pairCount == (int)pairs) built = BuildQueryString(&query);
  FreePairList(&query);
  href = EscapeQueryExtras(built);
  free(built);
  if (href == NULL) return -1;
  fputs("<a href=\"", stdout);
  WriteHtmlText(stdout, href);
  fputs("\">", stdout);
  WriteHtmlText(stdout, text);
  fputs("</a>", stdout);
  free(href);
  return 0;
}

static int IsRequired(int field) {
  return field == kFileField || field == kStyleField || field == kMachineField;
}

static void FaultAttributes(int fault, int field) {
  if (fault == field) fputs(" class=\"fault\" aria-invalid=\"true\" autofocus", stdout);
}

void WriteSaveForm(const char* const* values, const char* settings, int fault) {
  int i;
  fputs(
      "<form method=\"post\" action=\"\" enctype=\"application/x-www-form-urlencoded\" "
      "accept-charset=\"UTF-8\">\n"
      "<p class=\"hint\" id=\"name-rules\">File name, style and machine are required: each 1 "
      "to 255 bytes, without spaces, control characters or '/', and not \".\" or \"..\". "
      "A file name is stored once per style.</p>\n",
      stdout);
  for (i = 0; i < FIELD_COUNT; ++i) {
    printf("<p><label for=\"%s\">%s</label><input type=\"text\" id=\"%s\" name=\"%s\"", kFields[i],
           kFieldLabels[i], kFields[i], kFields[i]);
    if (IsRequired(i)) fputs(" required aria-describedby=\"name-rules\"", stdout);
    FaultAttributes(fault, i);
    if (values != NULL && values[i] != NULL) {
      fputs(" value=\"", stdout);
      WriteHtmlText(stdout, values[i]);
      fputs("\"", stdout);
    }
    fputs(">", stdout);
    if (fault == i) fputs(" <span class=\"fault-note\">correct this field</span>", stdout);
    fputs("</p>\n", stdout);
  }
  fputs("<p><label for=\"settings\">Settings</label>", stdout);
  if (fault == kSettingsField) fputs(" <span class=\"fault-note\">required</span>", stdout);
  fputs("</p>\n<p><textarea id=\"settings\" name=\"settings\" rows=\"12\" cols=\"60\" required",
        stdout);
  FaultAttributes(fault, kSettingsField);
  /* A line break right after the tag is dropped by the HTML parser; this one stands for it, so
   * that a text starting with a line break keeps it. */
  fputs(">\n", stdout);
  if (settings != NULL) WriteHtmlText(stdout, settings);
  fputs("</textarea></p>\n<p><button type=\"submit\" id=\"save\">Save</button></p>\n</form>\n",
        stdout);
}

void WriteOutcome(const char* outcome, const int* run_status) {
  printf("<p class=\"code\">Result: <span id=\"outcome\">%s</span>", outcome);
  if (run_status != NULL) {
    printf(", run status <span id=\"status\">%d</span>", *run_status);
  }
  fputs("</p>\n", stdout);
}

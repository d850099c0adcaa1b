/* The CGI's own reading of a request and its writing of text into HTML: the parts of the web
 * front that decide what a request may hold before the store or loomreg sees it. */
#ifndef LOOMREG_WEB_CGI_INPUT_H
#define LOOMREG_WEB_CGI_INPUT_H

#include <stddef.h>
#include <stdio.h>

/* The longest request body accepted: a settings file is a few kilobytes of text. */
#define CGI_MAX_BODY (1024 * 1024)

/* Reads a CONTENT_LENGTH value: decimal digits only, no sign or blanks. Returns 0 and stores
 * the value when it is well formed and at most `limit`; -1 when it is malformed (or missing:
 * `text` NULL); 1 when it is well formed but larger than `limit`. */
int ParseContentLength(const char* text, size_t limit, size_t* length);

/* 1 when a CONTENT_TYPE value names application/x-www-form-urlencoded (case-insensitive,
 * parameters such as "; charset=UTF-8" allowed after it); else 0, also for NULL. */
int IsFormContentType(const char* text);

/* 1 when decoding the form text would produce a NUL byte, which no C string can carry: an
 * escape "%00", or "%0" followed by a byte that is not a hexadecimal digit (the codec then
 * takes the one digit alone). Such a value would be cut short silently, so it is refused. */
int HasEscapedNul(const char* text, size_t length);

/* 1 when the text can name one entry of the store's lists as loomreg writes them: 1 to 255
 * bytes, not "." or "..", with no '/', space, control byte or DEL (loomreg_store.h's rule, the
 * save's). Names read from a request are checked with this before they become a path. */
int IsStoreName(const char* text);

/* The same origin: 1 when an Origin header value is exactly `own` ("scheme://host[:port]"),
 * letters compared without case; else 0, also for NULL or "null". */
int OriginMatches(const char* origin, const char* own);

/* 1 when a Referer value is an address at `own`: `own` followed by '/' or nothing. */
int RefererMatches(const char* referer, const char* own);

/* A new text: a query string built by the form-data module, with '#', ';' and every '?' after
 * the first escaped as well; the module leaves them as they are, and a browser would read '#'
 * as the start of a fragment. NULL for NULL or when memory runs out. */
char* EscapeQueryExtras(const char* query);

/* Writes `length` bytes of text into HTML text or a quoted attribute value: & < > " ' as
 * character references, a NUL byte as U+FFFD, every other byte unchanged. */
void WriteHtml(FILE* out, const char* text, size_t length);
/* The same for a NUL-terminated text. */
void WriteHtmlText(FILE* out, const char* text);

#endif

#define _POSIX_C_SOURCE 200809L
#include "cgi_input.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "loomreg_store.h"

int ParseContentLength(const char* text, size_t limit, size_t* length) {
  size_t value = 0;
  int too_large = 0;
  if (text == NULL || *text == '\0') return -1;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return -1;
    if (!too_large) {
      value = value * 10 + (size_t)(*text - '0');
      /* Stop adding digits once past the limit, so the value never wraps around. */
      if (value > limit) too_large = 1;
    }
  }
  if (too_large) return 1;
  *length = value;
  return 0;
}

int IsFormContentType(const char* text) {
  static const char kForm[] = "application/x-www-form-urlencoded";
  const size_t length = sizeof kForm - 1;
  if (text == NULL || strncasecmp(text, kForm, length) != 0) return 0;
  text += length;
  while (*text == ' ' || *text == '\t') ++text;
  return *text == '\0' || *text == ';';
}

static int IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HasEscapedNul(const char* text, size_t length) {
  size_t i = 0;
  while (i < length) {
    if (text[i] != '%') {
      ++i;
      continue;
    }
    /* An escape spans three bytes, whatever they are, as the codec reads it. */
    if (i + 1 < length && text[i + 1] == '0') {
      if (i + 2 >= length || text[i + 2] == '0' || !IsHexDigit(text[i + 2])) return 1;
    }
    i += 3;
  }
  return 0;
}

int IsStoreName(const char* text) { return LoomregIsStoreName(text); }

void WriteHtml(FILE* out, const char* text, size_t length) {
  size_t i;
  for (i = 0; i < length; ++i) {
    switch (text[i]) {
      case '&':
        fputs("&amp;", out);
        break;
      case '<':
        fputs("&lt;", out);
        break;
      case '>':
        fputs("&gt;", out);
        break;
      case '"':
        fputs("&quot;", out);
        break;
      case '\'':
        fputs("&#39;", out);
        break;
      case '\0':
        fputs("\xEF\xBF\xBD", out);
        break;
      default:
        putc(text[i], out);
        break;
    }
  }
}

void WriteHtmlText(FILE* out, const char* text) { WriteHtml(out, text, strlen(text)); }

int OriginMatches(const char* origin, const char* own) {
  return origin != NULL && own != NULL && strcasecmp(origin, own) == 0;
}

int RefererMatches(const char* referer, const char* own) {
  size_t length;
  if (referer == NULL || own == NULL) return 0;
  length = strlen(own);
  return strncasecmp(referer, own, length) == 0 &&
         (referer[length] == '\0' || referer[length] == '/');
}

char* EscapeQueryExtras(const char* query) {
  size_t i, o = 0, length;
  char* escaped;
  if (query == NULL) return NULL;
  length = strlen(query);
  escaped = malloc(3 * length + 1);
  if (escaped == NULL) return NULL;
  for (i = 0; i < length; ++i) {
    char c = query[i];
    if (c == '#' || c == ';' || (c == '?' && i > 0)) {
      static const char kHex[] = "0123456789abcdef";
      escaped[o++] = '%';
      escaped[o++] = kHex[(unsigned char)c >> 4];
      escaped[o++] = kHex[(unsigned char)c & 15];
    } else {
      escaped[o++] = c;
    }
  }
  escaped[o] = '\0';
  return escaped;
}

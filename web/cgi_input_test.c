/* The CGI's own reading of a request: lengths, content types, escaped NUL bytes, store names
 * and HTML escaping. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cgi_input.h"

static int failures = 0;

static void Expect(int condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "FAIL: %s\n", what);
    ++failures;
  }
}

static void TestContentLength(void) {
  size_t length = 7;
  Expect(ParseContentLength("0", 10, &length) == 0 && length == 0, "length 0");
  Expect(ParseContentLength("10", 10, &length) == 0 && length == 10, "length at the limit");
  Expect(ParseContentLength("11", 10, &length) == 1, "length over the limit");
  Expect(ParseContentLength("99999999999999999999999999", 10, &length) == 1,
         "a length past size_t is too large, not wrapped");
  Expect(ParseContentLength(NULL, 10, &length) == -1, "no length");
  Expect(ParseContentLength("", 10, &length) == -1, "empty length");
  Expect(ParseContentLength("-1", 10, &length) == -1, "negative length");
  Expect(ParseContentLength(" 5", 10, &length) == -1, "blank before the length");
  Expect(ParseContentLength("5x", 10, &length) == -1, "text after the length");
}

static void TestContentType(void) {
  Expect(IsFormContentType("application/x-www-form-urlencoded"), "form type");
  Expect(IsFormContentType("Application/X-WWW-Form-Urlencoded; charset=UTF-8"),
         "form type in capitals with a parameter");
  Expect(!IsFormContentType("application/x-www-form-urlencodedx"), "a longer type");
  Expect(!IsFormContentType("multipart/form-data; boundary=x"), "multipart");
  Expect(!IsFormContentType(NULL), "no type");
}

static void TestEscapedNul(void) {
  const char* with[] = {"a=%00", "a=b%0", "a=%0g&b=c", "a=%41%00"};
  const char* without[] = {"a=%0D%0A", "a=%20%30", "a=%%00", "a=100%25", "a=%A0"};
  size_t i;
  for (i = 0; i < sizeof with / sizeof with[0]; ++i) {
    Expect(HasEscapedNul(with[i], strlen(with[i])), with[i]);
  }
  for (i = 0; i < sizeof without / sizeof without[0]; ++i) {
    Expect(!HasEscapedNul(without[i], strlen(without[i])), without[i]);
  }
}

static void TestStoreName(void) {
  char longest[257];
  memset(longest, 'a', 255);
  longest[255] = '\0';
  Expect(IsStoreName("Loom<01>&\"\xC3\xA4\""), "punctuation and UTF-8 are names");
  Expect(IsStoreName(longest), "255 bytes");
  longest[255] = 'a';
  longest[256] = '\0';
  Expect(!IsStoreName(longest), "256 bytes");
  Expect(!IsStoreName(""), "empty");
  Expect(!IsStoreName("."), ".");
  Expect(!IsStoreName(".."), "..");
  Expect(!IsStoreName("../x"), "a slash");
  Expect(!IsStoreName("a b"), "a space");
  Expect(!IsStoreName("a\tb"), "a tab");
  Expect(!IsStoreName("a\x7F"), "DEL");
}

static void TestHtml(void) {
  char* text = NULL;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  if (out == NULL) {
    Expect(0, "open_memstream");
    return;
  }
  WriteHtml(out, "<a href=\"x\">'&'</a>\0\xC3\xA9", 22);
  fclose(out);
  Expect(strcmp(text,
                "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;\xEF\xBF\xBD\xC3\xA9") == 0,
         "HTML escaping");
  free(text);
}

int main(void) {
  TestContentLength();
  TestContentType();
  TestEscapedNul();
  TestStoreName();
  TestHtml();
  if (failures == 0) puts("cgi_input_test: ok");
  return failures == 0 ? 0 : 1;
}

/* The web front of the store, a CGI program. GET shows the save form and read-only pages of
 * the store's catalogues; POST saves a settings file the way the web application does: the
 * settings go into an upload of a name of their own in SetValueFile/, loomreg files it, and the
 * page shows the outcome, read back from the store.
 *
 * It runs in the application directory (the web server starts a CGI in its own directory) and
 * finds the store through ./KVR_PATH.inf, as loomreg does. Pages are UTF-8; every text that
 * comes from the store or the request is HTML-escaped. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "cgi_input.h"
#include "page.h"
#include "pages.h"
#include "save.h"

/* This front's own origin, "scheme://host[:port]", from the request's Host header; NULL when
 * the request names no host. */
static char* OwnOrigin(void) {
  const char* host = getenv("HTTP_HOST");
  const char* https = getenv("HTTPS");
  const char* scheme = getenv("REQUEST_SCHEME");
  char* origin;
  if (host == NULL || host[0] == '\0') return NULL;
  if (https != NULL && strcasecmp(https, "on") == 0) scheme = "https";
  if (scheme == NULL || (strcmp(scheme, "http") != 0 && strcmp(scheme, "https") != 0)) {
    scheme = "http";
  }
  origin = malloc(strlen(scheme) + strlen(host) + 4);
  if (origin != NULL) sprintf(origin, "%s://%s", scheme, host);
  return origin;
}

/* A POST must come from a page of this front: its Origin, or without one its Referer, names
 * this origin. A page of another site can make a browser post here, with the user's login. */
static int IsSameOriginPost(void) {
  const char* origin = getenv("HTTP_ORIGIN");
  char* own = OwnOrigin();
  int same =
      origin != NULL ? OriginMatches(origin, own) : RefererMatches(getenv("HTTP_REFERER"), own);
  free(own);
  return same;
}

/* Reads the request body: CONTENT_LENGTH bytes of standard input, at most CGI_MAX_BODY.
 * Answers a request it cannot take with a 4xx page itself. */
static int ReceiveForm(void) {
  size_t length = 0, got = 0;
  char* body;
  int result;
  if (!IsSameOriginPost()) {
    return ErrorPage(403, "Forbidden",
                     "The form was not sent from a page of this site, so it is not saved.");
  }
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
  /* The form-data parser writes one byte past the text's terminator. */
  body = malloc(length + 2);
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

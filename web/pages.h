/* The GET pages of the web front: the save form and read-only views of the store. */
#ifndef LOOMREG_WEB_PAGES_H
#define LOOMREG_WEB_PAGES_H

/* Answers a GET or HEAD for the page the query string names. */
int ShowPage(void);

#endif

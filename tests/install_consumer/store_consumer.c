/* Reads the store of the working directory through the installed read interface, as a page of
 * the web application does, and prints what it found. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "loomreg_store.h"

static int PrintList(const char* what, LoomregStoreResult result, LoomregStoreList* list) {
  size_t i;
  if (result != LOOMREG_STORE_OK) return -1;
  printf("%s:", what);
  for (i = 0; i < list->count; ++i) printf(" %s", list->items[i].text);
  putchar('\n');
  LoomregStoreFreeList(list);
  return 0;
}

int main(void) {
  LoomregStore* store;
  LoomregStoreList list;
  char* stamp;
  char content[64];
  ssize_t got;
  int fd;

  if (LoomregStoreOpen(&store) != LOOMREG_STORE_OK) {
    fputs("store_consumer: cannot open the store\n", stderr);
    return 1;
  }
  printf("data root: %s\n", LoomregStoreDataRoot(store));
  if (PrintList("machines", LoomregStoreMachines(store, &list), &list) != 0 ||
      PrintList("styles", LoomregStoreStyles(store, &list), &list) != 0 ||
      PrintList("files of Loom01", LoomregStoreMachineFiles(store, "Loom01", &list), &list) != 0 ||
      PrintList("files of Twill", LoomregStoreStyleFiles(store, "Twill", &list), &list) != 0 ||
      PrintList("history", LoomregStoreHistory(store, 10, &list), &list) != 0) {
    fprintf(stderr, "store_consumer: %s\n", LoomregStoreErrorText(store));
    LoomregStoreClose(store);
    return 1;
  }
  if (LoomregStoreMachineStamp(store, "Loom01", &stamp) == LOOMREG_STORE_OK && stamp != NULL) {
    printf("stamped: %s\n", strncmp(stamp, "Loom01,", 7) == 0 ? "yes" : stamp);
    LoomregStoreFreeText(stamp);
  }
  if (LoomregStoreOpenFile(store, "Twill", "TW-0001", &fd) == LOOMREG_STORE_OK) {
    got = read(fd, content, sizeof content - 1);
    close(fd);
    content[got > 0 ? got : 0] = '\0';
    printf("stored: %s\n", content);
  }
  printf("a link: %d\n", LoomregStoreOpenFile(store, "Twill", "link", &fd) == LOOMREG_STORE_LINK);
  LoomregStoreClose(store);
  return 0;
}

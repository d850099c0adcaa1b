/* Parses a form and reads the site configuration of the working directory, as a CGI program of
 * the web application does, and prints what it found. */
#include <stdio.h>
#include <stdlib.h>

#include "formdata.h"
#include "loomreg_version.h"
#include "siteconfig.h"

/* The installed version header gives the version to C as macros. */
#if !defined(LOOMREG_VERSION) || LOOMREG_VERSION_MAJOR < 1
#error "loomreg_version.h does not give the version"
#endif

int main(void) {
  char form[] = "machine=Loom+01&style=Twill%2C+plain";
  PairList list;
  char* query;

  InitPairList(&list);
  if (ParseFormData(form, &list) != 2) {
    fputs("consumer_c: the form did not parse into two pairs\n", stderr);
    return 1;
  }
  AppendPair("beam", "BEAM 7", &list);
  query = BuildQueryString(&list);
  BuildPathTable();
  printf("style: %s\n", GetPairValue("style", &list));
  printf("query: %s\n", query != NULL ? query : "(none)");
  printf("data root: %s\n", MakeDataRoot());
  printf("machine list: %s\n", MachineListFile);
  free(query);
  FreePairList(&list);
  return 0;
}

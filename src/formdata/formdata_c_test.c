/* The module used from C: parse a form, look values up, encode, decode, build a query string,
 * sort records and release everything. Returns nonzero when a result differs. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "formdata.h"

static int failures = 0;

static void ExpectText(const char* what, const char* got, const char* want) {
  if (got == NULL || strcmp(got, want) != 0) {
    fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, got ? got : "(null)", want);
    ++failures;
  }
}

static void ExpectInt(const char* what, long got, long want) {
  if (got != want) {
    fprintf(stderr, "%s: got %ld, want %ld\n", what, got, want);
    ++failures;
  }
}

int main(void) {
  PairList list;
  char form[] = "machine=Loom+01&style=Twill%2C+plain&note=a%0D%0Ab&empty=";
  char* text;
  char records[3][LOOMREG_RECORD_SIZE] = {"beta", "Alpha", "alpha"};
  char field[LOOMREG_RECORD_SIZE];
  char line[LOOMREG_RECORD_SIZE] = "TW-0001,Twill";

  InitPairList(&list);
  ExpectInt("ParseFormData", ParseFormData(form, &list), 4);
  ExpectInt("pairCount", list.pairCount, 4);
  ExpectText("machine", FindPairValue("machine", &list), "Loom 01");
  ExpectText("style", GetPairValue("style", &list), "Twill, plain");
  ExpectText("note", GetPairValue("note", &list), "a\nb");
  ExpectText("empty", FindPairValue("empty", &list), "");
  ExpectInt("missing", FindPairValue("Machine", &list) == NULL, 1);
  ExpectText("missing default", GetPairValue("Machine", &list), "");

  text = BuildQueryString(&list);
  ExpectText("BuildQueryString", text,
             "?machine=Loom%2001&style=Twill%2c%20plain&note=a%0ab&empty=");
  free(text);
  FreePairList(&list);
  ExpectInt("freed", list.pairCount == 0 && list.pairs == NULL, 1);
  text = BuildQueryString(&list);
  ExpectInt("empty query", text == NULL, 1);

  AppendPair("a&b", "<1+1>", &list);
  text = BuildQueryString(&list);
  ExpectText("appended query", text, "?a%26b=%3c1%2b1%3e");
  free(text);
  FreePairList(&list);

  text = EncodeUrlText("x=1 & y");
  ExpectText("EncodeUrlText", text, "x%3d1%20%26%20y");
  free(text);
  text = DecodeUrlText("x%3D1+%26+y");
  ExpectText("DecodeUrlText", text, "x=1 & y");
  free(text);

  qsort(records, 3, LOOMREG_RECORD_SIZE, CompareTextAscending);
  ExpectText("sorted first", records[0], "Alpha");
  ExpectText("sorted last", records[2], "beta");
  ExpectInt("ReverseRecords", ReverseRecords(records, 3), 0);
  ExpectText("reversed first", records[0], "beta");
  ExpectInt("IsValidName", IsValidName("Loom_01") && !IsValidName("Loom 01"), 1);
  ExpectInt("CopyCommaField", CopyCommaField(line, field), 8);
  ExpectText("field", field, "TW-0001");

  return failures == 0 ? 0 : 1;
}

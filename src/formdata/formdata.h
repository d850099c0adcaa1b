/* Form-data utilities: a list of name/value pairs, URL form encoding and decoding, query
 * strings, and small helpers for 256-byte text records.
 *
 * Ownership: every text these functions return as "new" is a malloc'ed copy that the caller
 * releases with free(). A PairList owns its entry array and a private copy of every name and
 * value; FreePairList releases them. The PairList record itself belongs to the caller.
 * Nothing here takes a lock; the only shared state is the empty text of GetPairValue. */
#ifndef LOOMREG_FORMDATA_H
#define LOOMREG_FORMDATA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LOOMREG_RECORD_SIZE 256

typedef struct NameValuePair {
  char* name;
  char* value;
} NameValuePair;

/* An ordered list of pairs. Empty is pairCount 0 and pairs NULL; the entry array always holds
 * exactly pairCount entries. Names need not be unique: lookups see the first of them. */
typedef struct PairList {
  int32_t pairCount;
  NameValuePair* pairs;
} PairList;

/* Makes the list empty without releasing anything: for a new list. */
void InitPairList(PairList* list);
/* Releases every name, value and the entry array, and leaves the list empty and reusable. */
void FreePairList(PairList* list);
/* Appends copies of `name` and `value`, growing the entry array by exactly one entry. When
 * memory runs out, the pair is not added and the list is released and left empty. */
void AppendPair(const char* name, const char* value, PairList* list);
/* The value of the first pair named exactly `name`, or NULL. The text belongs to the list. */
char* FindPairValue(const char* name, const PairList* list);
/* Like FindPairValue, but a miss gives a shared static empty text instead of NULL. Its first
 * byte is reset to NUL on every miss; never free it, never rely on writes into it. */
char* GetPairValue(const char* name, const PairList* list);
/* Writes "name:value\n" for every pair, in order, to standard output, without escaping. */
void PrintPairList(const PairList* list);

/* Decodes URL-encoded form data ("name=value" segments joined by '&', '%XX' escapes, '+' for
 * space) in place and appends its pairs to the list, after those it already holds. Returns the
 * list's pairCount; 0 as soon as a segment has no '=' (the pairs before it stay); -1 when
 * memory ran out (the list is then released and empty). An empty segment ends the parse. The
 * buffer needs no room beyond the text's terminating NUL; afterwards it holds the decoded
 * segments separated by NULs, and past them the text's own bytes. An escaped carriage return
 * (%0D) is dropped. */
int ParseFormData(char* text, PairList* list);
/* New text with every byte below 0x20 or from 0x80, and each of = & % space < > + , written
 * as '%' and two lower-case hexadecimal digits. NULL when memory runs out. Every other byte
 * passes unescaped, '#' and '?' among them: in a URL a '#' ends the query (the browser keeps
 * the rest to itself) and a '?' ends the path. Before putting the result, or a query string of
 * BuildQueryString, into a URL, write each '#' as "%23", and each '?' as "%3F" when it goes
 * into the path; form parsers, this module's and browsers', read both back as the byte. */
char* EncodeUrlText(const char* text);
/* New text with '%XX' escapes turned into their bytes (an escaped carriage return is dropped)
 * and '+' into a space. NULL when memory runs out. */
char* DecodeUrlText(const char* text);
/* New text "?name=value&name=value..." with every name and value encoded as by
 * EncodeUrlText. NULL for an empty list, or when memory runs out. */
char* BuildQueryString(const PairList* list);

/* qsort/bsearch orderings of NUL-terminated texts (or 256-byte text records), byte by byte as
 * unsigned values: from lowest to highest, and from highest to lowest. */
int CompareTextAscending(const void* first, const void* second);
int CompareTextDescending(const void* first, const void* second);
/* Reverses the order of `count` records of LOOMREG_RECORD_SIZE bytes in place, moving whole
 * records. A count below 2 changes nothing. Returns 0. */
int ReverseRecords(void* records, int count);
/* 1 when every byte of the text is a letter A-Z or a-z, a digit, '-', '_', '(' or ')';
 * else 0. The empty text is valid. */
int IsValidName(const char* text);
/* Copies the 256-byte source record into the destination up to its first comma, and writes a
 * NUL in the comma's place. Returns the offset of the byte after that comma, where the next
 * field begins; or 257 when none of the 256 bytes is a comma, all of which are then copied,
 * NULs included. The destination's bytes after a written NUL stay as they were. */
int CopyCommaField(const char* source, char* destination);

#ifdef __cplusplus
}
#endif

#endif

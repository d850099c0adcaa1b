/* The pieces every page of the web front is made of: headers, the page frame, links, and the
 * save form, empty or refilled with what a user typed. */
#ifndef LOOMREG_WEB_PAGE_H
#define LOOMREG_WEB_PAGE_H

#include <stddef.h>

/* The form's fields, in the order of loomreg's words, and their labels. */
#define FIELD_COUNT 6
extern const char* const kFields[FIELD_COUNT];
extern const char* const kFieldLabels[FIELD_COUNT];
enum { kFileField = 0, kStyleField = 1, kMachineField = 4, kSettingsField = FIELD_COUNT };

/* The headers every answer carries: no sniffing, no framing, no script or foreign content,
 * no address sent to other sites. */
void SecurityHeaders(void);

void PageStart(int status, const char* reason, const char* title);
void PageEnd(void);

/* A page for a request that cannot be served: the status and one line saying why. */
int ErrorPage(int status, const char* reason, const char* why);

/* A link to this program with a query of the given name/value pairs (`pairs` counts the
 * pairs, `pair` holds name, value, name, value...), built by the form-data module and escaped
 * for a link. Returns 0, or -1 when memory ran out. */
int WriteLink(const char* const* pair, size_t pairs, const char* text);

/* The save form. `values` holds the fields as typed (NULL: an empty form) and `settings` the
 * settings text; the field numbered `fault` (kSettingsField for the settings, -1 for none) is
 * marked as the one to correct. */
void WriteSaveForm(const char* const* values, const char* settings, int fault);

/* The result of a save as a machine reads it: the element `outcome` and, when loomreg
 * recorded a result, the element `status` with it. */
void WriteOutcome(const char* outcome, const int* run_status);

#endif

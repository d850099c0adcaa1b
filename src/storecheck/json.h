// The report as one JSON document, for monitoring.
//
// Every string of the document holds the store's bytes one code point per byte: printable
// ASCII stands as itself ('"' and '\' escaped), control bytes and DEL as \b \f \n \r \t or
// \u00XX, and every byte of 0x80 and above as \u0080 to \u00ff. The document is therefore
// plain ASCII and loses nothing: a reader gets the original bytes of a name back by taking each
// code point of the string as one byte (decoding as ISO 8859-1), whatever the server's code
// page and whether or not the bytes are UTF-8.
#ifndef LOOMREG_STORECHECK_JSON_H
#define LOOMREG_STORECHECK_JSON_H

#include <string>
#include <string_view>

#include "output.h"
#include "report.h"

namespace loomreg {

// Appends `bytes` as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view bytes);

void WriteJson(const CheckReport& report, std::string_view version, Output& out);

}  // namespace loomreg

#endif

// The site configuration readers on arbitrary file bytes: every result must be a NUL-terminated
// text of at most 255 bytes, the two site-path readers must agree with a plain reading of the
// file, and the path table must be its data root followed by the entry names.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "path_table.h"
#include "siteconfig.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

char scratch[] = "/tmp/loomreg-fuzz-XXXXXX";

void RemoveScratchDirectory() {
  for (const char* name : {"KVR_PATH.inf", "vellinfo.txt"}) {
    std::string path = std::string(scratch) + "/" + name;
    ::unlink(path.c_str());
  }
  ::rmdir(scratch);
}

// Works in a directory of its own, where the readers find their files.
void EnterScratchDirectory() {
  static bool entered = false;
  if (entered) return;
  Check(::mkdtemp(scratch) != nullptr);
  Check(::chdir(scratch) == 0);
  std::atexit(RemoveScratchDirectory);
  entered = true;
}

void WriteBytes(const char* path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path, "wb");
  Check(f != nullptr);
  Check(std::fwrite(data, 1, size, f) == size);
  Check(std::fclose(f) == 0);
}

// A text buffer of the module: NUL within its 256 bytes.
size_t CheckedLength(const char* text) {
  const void* nul = std::memchr(text, '\0', LOOMREG_TEXT_SIZE);
  Check(nul != nullptr);
  return static_cast<const char*>(nul) - text;
}

// What the file says for `key`: CR LF read as LF, the file cut into pieces that end after an
// LF or after 255 bytes, the first piece whose text (before any NUL) begins with the key.
bool ReferenceSetting(std::string_view file, std::string_view key, std::string& value) {
  std::string text;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
    text += file[i];
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && end - start < 255) {
      if (text[end++] == '\n') break;
    }
    std::string_view piece(text.data() + start, end - start);
    piece = piece.substr(0, piece.find('\0'));
    if (piece.starts_with(key)) {
      piece.remove_prefix(key.size());
      if (piece.ends_with('\n')) piece.remove_suffix(1);
      value = piece;
      return true;
    }
    start = end;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  WriteBytes("KVR_PATH.inf", data, size);
  WriteBytes("vellinfo.txt", data, size);
  std::string_view file(reinterpret_cast<const char*>(data), size);

  std::string expected;
  std::string kvr = ReadKvrPath();
  Check(kvr == (ReferenceSetting(file, "KVR=", expected) ? expected : "/kvr/"));
  std::string kvrdata = ReadKvrDataPath();
  Check(kvrdata == (ReferenceSetting(file, "KVRDATA=", expected) ? expected : "/kvrdata/"));

  for (const char* text : {ReadGlbDir(), ReadMainDir(), ReadLoomDir(), ReadStyleManagerPage(),
                           ReadPatternManagerPage(), ReadVellPath(), MakeGlbRoot()}) {
    Check(CheckedLength(text) <= 255);
  }

  BuildPathTable();
  std::string root = MakeDataRoot();
  Check(root.size() <= 255);
  bool complete = true;
  for (const loomreg::PathTableEntry& entry : loomreg::PathTableEntries()) {
    size_t length = CheckedLength(entry.buffer);
    Check(length <= 255);
    std::string full = root + std::string(entry.below);
    if (full.size() > 255 || (root.empty() && length == 0)) {
      complete = false;
      Check(length == 0);
    } else {
      Check(std::string(entry.buffer) == full);
    }
  }
  if (complete) Check(PathTableIsComplete() == 1);
  return 0;
}

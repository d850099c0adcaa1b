#ifndef LOOMREG_REGISTRATION_REGISTER_SAVE_H
#define LOOMREG_REGISTRATION_REGISTER_SAVE_H

#include <chrono>
#include <string_view>

#include "file_io.h"
#include "save_request.h"
#include "store_lock.h"

namespace loomreg {

// The registration transaction. Waits for the store lock until `lock_deadline`; returns 0 or -1.
int RegisterSaveUntil(const SaveRequest& request,
                      std::chrono::steady_clock::time_point lock_deadline);

// Moves `from` to `to` unless something already exists at `to`; never replaces a file. A
// failure because `to` exists has error() EEXIST.
Status MoveNoReplace(const char* from, const char* to);
// The same by link() and unlink(), for file systems that cannot rename without replacing.
Status MoveByLink(const char* from, const char* to);
// The same into `name` of the directory open at `to_dir`, which no symbolic link can redirect;
// `to` names the target in messages.
Status MoveNoReplaceAt(const char* from, int to_dir, const char* name, std::string_view to);
Status MoveByLinkAt(const char* from, int to_dir, const char* name, std::string_view to);

// Writes "loomreg: <message>" and a newline to standard error.
void Report(std::string_view message);

}  // namespace loomreg

#endif

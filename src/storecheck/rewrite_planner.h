// What a repair is to rewrite, gathered while the checker reads the store: the lists with an
// unterminated last line or repeated names, and the names to add to the each-once lists.
#ifndef LOOMREG_STORECHECK_REWRITE_PLANNER_H
#define LOOMREG_STORECHECK_REWRITE_PLANNER_H

#include <map>
#include <string>
#include <vector>

#include "list_rewrite.h"

namespace loomreg {

class RewritePlanner {
 public:
  explicit RewritePlanner(std::map<std::string, RewritePlan>& plans) : plans_(plans) {}

  // The list at `path` is to be rewritten; `each_once` when it is FileList, KindList or
  // MachineList, whose repeats the rewrite removes.
  RewritePlan& Plan(const std::string& path, bool each_once);
  // The each-once list at `path` does not exist and is to be created.
  void Create(const std::string& path) { Plan(path, true).missing = true; }
  // `name` is to be added to the each-once list at `path`.
  void AddName(const std::string& path, std::string name);
  // Hands the names to add to their lists' plans, sorted and each once: they go after whatever
  // else a rewrite changes.
  void Finish();

 private:
  std::map<std::string, RewritePlan>& plans_;
  std::map<std::string, std::vector<std::string>> adds_;
};

}  // namespace loomreg

#endif

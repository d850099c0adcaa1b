#include "rewrite_planner.h"

#include <algorithm>
#include <utility>

namespace loomreg {

RewritePlan& RewritePlanner::Plan(const std::string& path, bool each_once) {
  RewritePlan& plan = plans_[path];
  if (each_once) plan.each_once = true;
  return plan;
}

void RewritePlanner::AddName(const std::string& path, std::string name) {
  adds_[path].push_back(std::move(name));
}

void RewritePlanner::Finish() {
  for (auto& [path, adds] : adds_) {
    std::sort(adds.begin(), adds.end());
    adds.erase(std::unique(adds.begin(), adds.end()), adds.end());
    Plan(path, true).add = std::move(adds);
  }
  adds_.clear();
}

}  // namespace loomreg

// The rewrite of one catalogue list by a repair: it changes only what loses nothing and copies
// every other byte as it stands. The text-level rules (how a line is cut into words, how one is
// taken out, which line end an unterminated line gets) are the list format's, in list_format.h;
// this decides what to take out and records it.
//
// In an each-once list (FileList, KindList, MachineList) a name that an earlier word already
// holds is removed, with the white space that separated it from the word before it; a line
// left without words is removed whole, its line end included; every other line keeps its
// bytes, its white space and its line end. Words longer than 255 bytes never equal a name and
// are kept. In every list an unterminated last line gets a line end (CR LF, or LF after a
// trailing CR), and the names to add that the list does not hold go at the end, one per line.
#ifndef LOOMREG_STORECHECK_LIST_REWRITE_H
#define LOOMREG_STORECHECK_LIST_REWRITE_H

#include <string>
#include <string_view>
#include <vector>

#include "findings.h"
#include "list_format.h"
#include "name_index.h"
#include "repeat_log.h"

namespace loomreg {

struct RewritePlan {
  bool each_once = false;        // remove repeated names, keeping the first
  std::vector<std::string> add;  // names to append unless the list holds them (each-once only)
  bool missing = false;          // the list does not exist: create it, holding `add`
};

class ListRewriter {
 public:
  // `file` names the list in the repairs recorded. With `removed`, the repeats taken out go
  // there rather than into repairs().
  ListRewriter(const RewritePlan& plan, std::string file, RepeatLog* removed = nullptr);

  // Appends the rewritten form of the next line of the list to `out`.
  void Line(const TextLine& line, std::string& out);
  // Appends the names to add; call once, after the last line.
  void Finish(std::string& out);

  // What the rewrite changed, in the order of the list (the logged removals first).
  const std::vector<Repair>& repairs() const { return repairs_; }
  // Whether the rewrite changed anything.
  bool changed() const {
    return !repairs_.empty() || (removed_ != nullptr && removed_->size() > 0);
  }

 private:
  void End(const TextLine& line, std::string& out);

  const RewritePlan& plan_;
  std::string file_;
  RepeatLog* removed_;
  NameIndex seen_;
  std::vector<LineWord> words_;  // of the line at hand, kept to reuse its memory
  std::vector<Repair> repairs_;
};

// Rewrites a whole list held in memory; for tests and small lists.
std::string RewriteText(std::string_view text, const RewritePlan& plan,
                        std::vector<Repair>* repairs = nullptr);

}  // namespace loomreg

#endif

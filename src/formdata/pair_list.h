// The append that AppendPair and ParseFormData share, for texts whose lengths are known.
#ifndef LOOMREG_FORMDATA_PAIR_LIST_H
#define LOOMREG_FORMDATA_PAIR_LIST_H

#include <string_view>

#include "formdata.h"

namespace loomreg::formdata {

// Appends copies of `name` and `value` (which must hold no NUL) to the list, growing its entry
// array by exactly one entry. When memory runs out, releases the list, leaves it empty and
// returns false.
bool AppendPairCopy(std::string_view name, std::string_view value, PairList* list);

}  // namespace loomreg::formdata

#endif

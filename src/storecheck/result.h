// A value, or the Status that says why there is none: the result of a fallible operation that
// yields something.
#ifndef LOOMREG_STORECHECK_RESULT_H
#define LOOMREG_STORECHECK_RESULT_H

#include <optional>
#include <utility>

#include "file_io.h"

namespace loomreg {

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  // A failure: `status` is never ok.
  Result(Status status) : status_(std::move(status)) {}

  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  T& operator*() { return *value_; }
  const T& operator*() const { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

 private:
  Status status_;
  std::optional<T> value_;
};

}  // namespace loomreg

#endif

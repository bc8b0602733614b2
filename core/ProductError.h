#pragma once
// The error of a product value that cannot be used: a size, an angle, a page count, a [Product]
// key or a cover wrap. Its message names the value and the range it must lie in; the command line
// reports it as a usage error.
#include <string>

#include "raster/Errors.h"

namespace quirlon::core {

class EBadProductValue : public Exception {
 public:
  explicit EBadProductValue(const std::string& message) : Exception(message) {}
};

}  // namespace quirlon::core

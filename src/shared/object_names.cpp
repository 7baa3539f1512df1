#include "object_names.h"

#include "bounded_text.h"

namespace orvex {

bool BuildObjectName(const char* prefix, const char* name, char* out, std::size_t outSize) {
  return JoinText(out, outSize, {prefix, name});
}

}  // namespace orvex

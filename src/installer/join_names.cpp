#include "join_names.h"

#include "bounded_text.h"

namespace orvex {

namespace {
char joinedNames[kJoinNamesSize];
}  // namespace

const char* JoinNames(const char* first, const char* second, const char* third) {
  joinedNames[0] = '\0';
  for (const char* part : {first, second, third}) {
    if (part != nullptr && !AppendText(joinedNames, sizeof(joinedNames), part)) break;
  }
  return joinedNames;
}

}  // namespace orvex

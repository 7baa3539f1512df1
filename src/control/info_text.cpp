#include "info_text.h"

namespace orvex {

namespace {

// Reads the field starting at text; returns where the next field starts, or
// null when this field ran to the end of the text.
const char* ReadField(const char* text, TextSpan& field) {
  const char* end = text;
  while (*end != '\0' && *end != '|') ++end;
  field.text = text;
  field.length = static_cast<std::size_t>(end - text);
  return *end == '|' ? end + 1 : nullptr;
}

}  // namespace

InfoFields SplitInfo(const char* info) {
  InfoFields fields;
  if (info == nullptr) return fields;
  const char* next = ReadField(info, fields.productName);
  if (next == nullptr || *next == '\0') return fields;
  next = ReadField(next, fields.viewerClsid);
  if (next == nullptr || *next == '\0') return fields;
  ReadField(next, fields.downloadBaseUrl);
  return fields;
}

}  // namespace orvex

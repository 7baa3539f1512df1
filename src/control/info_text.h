// The fields of an Info text: "product|{viewer CLSID}|download base URL".
#pragma once

#include <cstddef>

namespace orvex {

struct TextSpan {
  const char* text = "";
  std::size_t length = 0;
};

struct InfoFields {
  TextSpan productName;      // up to the first '|', unchanged
  TextSpan viewerClsid;      // empty when there is no text after the first '|'
  TextSpan downloadBaseUrl;  // empty when there is no text after the second '|'
};

// Splits info (null counts as empty). Each field ends at the next '|' or at the
// end; a '|' after the third field ends it and the rest is ignored.
InfoFields SplitInfo(const char* info);

}  // namespace orvex

// What the page host takes from an HTML page: its title and every
// <object classid="clsid:..."> with the <param> elements inside it. Pure text
// work on already decoded characters, so it is tested on its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvex::page_host {

// Bounds of what a page may hold. A page over any of them is refused whole,
// never cut: a cut Info value would name another product.
constexpr std::size_t kMaxObjects = 64;
constexpr std::size_t kMaxParamsPerObject = 256;
constexpr std::size_t kMaxNameLength = 256;     // a parameter's name, decoded
constexpr std::size_t kMaxValueLength = 65536;  // a parameter's value or an attribute, decoded
constexpr std::size_t kMaxTitleLength = 256;    // longer titles are cut: they are only shown
constexpr int kMaxObjectExtent = 4096;          // pixels, for width and height

struct PageParam {
  std::wstring name;
  std::wstring value;
};

struct PageObject {
  std::wstring classId;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
  std::wstring id;       // the id attribute, when there is one
  int width = 0;         // pixels; 0 when the page gives none (or no usable number)
  int height = 0;
  std::vector<PageParam> params;  // in page order
};

struct HtmlPage {
  std::wstring title;               // whitespace folded; empty when the page has none
  std::vector<PageObject> objects;  // the objects the host creates, in page order
  std::vector<std::wstring> notes;  // what was passed over, and why (e.g. an object without a class)
};

// Parses a page. False, with `error` saying which bound was passed, when the
// page exceeds one of the bounds above; then `page` holds nothing useful.
// Anything else that is malformed (an unterminated tag, quote or comment, an
// unknown entity, a stray </object>) is read the way a lenient browser reads
// it and never fails.
bool ParseHtmlPage(const std::wstring& text, HtmlPage& page, std::wstring& error);

// The value of a parameter, first match by name without regard to case, or
// null when the object has no such parameter.
const std::wstring* FindParam(const PageObject& object, const std::wstring& name);

// Turns "clsid:GUID" (braces optional, any case, surrounding blanks ignored)
// into the registry form "{GUID}" in upper case. False when it is not one.
bool ClassIdFromAttribute(const std::wstring& attribute, std::wstring& classId);

}  // namespace orvex::page_host

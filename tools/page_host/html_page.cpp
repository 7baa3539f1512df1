#include "html_page.h"

#include <cstdint>

namespace orvex::page_host {

namespace {

constexpr std::size_t kMaxNotes = 100;
constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}
wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring AsciiLower(const std::wstring& text) {
  std::wstring lower = text;
  for (wchar_t& c : lower) c = AsciiLower(c);
  return lower;
}

// True when `text` at `at` starts with `word` (given in lower case), ignoring ASCII case.
bool StartsWithNoCase(const std::wstring& text, std::size_t at, const wchar_t* word) {
  for (std::size_t i = 0; word[i] != L'\0'; ++i) {
    if (at + i >= text.size() || AsciiLower(text[at + i]) != word[i]) return false;
  }
  return true;
}

// The position of the first `word` (lower case) at or after `from`, ignoring
// ASCII case; npos when there is none.
std::size_t FindNoCase(const std::wstring& text, std::size_t from, const wchar_t* word) {
  for (std::size_t at = from; at < text.size(); ++at) {
    if (StartsWithNoCase(text, at, word)) return at;
  }
  return std::wstring::npos;
}

void AppendCodePoint(std::wstring& out, std::uint32_t codePoint) {
  if (codePoint == 0 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    codePoint = kReplacementCharacter;
  }
  if (sizeof(wchar_t) == 2 && codePoint > 0xFFFF) {
    codePoint -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
  } else {
    out.push_back(static_cast<wchar_t>(codePoint));
  }
}

// Decodes the character references of attribute or text content. A reference
// that is not one of ours stays as it stands, as a browser leaves it.
std::wstring DecodeEntities(const std::wstring& raw) {
  static const struct {
    const wchar_t* name;  // without '&' and ';'
    wchar_t character;
  } kNamed[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}, {L"nbsp", 0xA0}};
  std::wstring out;
  out.reserve(raw.size());
  std::size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != L'&') {
      out.push_back(raw[i++]);
      continue;
    }
    if (i + 1 < raw.size() && raw[i + 1] == L'#') {
      const bool hex = i + 2 < raw.size() && (raw[i + 2] == L'x' || raw[i + 2] == L'X');
      std::size_t at = i + (hex ? 3 : 2);
      std::uint32_t value = 0;
      bool overflow = false;
      std::size_t digits = 0;
      for (; at < raw.size(); ++at, ++digits) {
        const int digit = hex ? HexDigit(raw[at]) : (IsDigit(raw[at]) ? raw[at] - L'0' : -1);
        if (digit < 0) break;
        if (value > 0x10FFFF) {
          overflow = true;  // keep reading the digits, the value is lost anyway
        } else {
          value = value * (hex ? 16u : 10u) + static_cast<std::uint32_t>(digit);
        }
      }
      if (digits == 0) {
        out.push_back(raw[i++]);
        continue;
      }
      if (at < raw.size() && raw[at] == L';') ++at;
      AppendCodePoint(out, overflow ? kReplacementCharacter : value);
      i = at;
      continue;
    }
    bool matched = false;
    for (const auto& entity : kNamed) {
      std::size_t length = 0;
      while (entity.name[length] != L'\0') ++length;
      if (raw.compare(i + 1, length, entity.name) == 0 && i + 1 + length < raw.size() && raw[i + 1 + length] == L';') {
        out.push_back(entity.character);
        i += length + 2;
        matched = true;
        break;
      }
    }
    if (!matched) out.push_back(raw[i++]);
  }
  return out;
}

// Runs of whitespace become one space; none at either end.
std::wstring FoldWhitespace(const std::wstring& text) {
  std::wstring folded;
  bool pendingSpace = false;
  for (const wchar_t c : text) {
    if (IsSpace(c)) {
      pendingSpace = !folded.empty();
      continue;
    }
    if (pendingSpace) folded.push_back(L' ');
    pendingSpace = false;
    folded.push_back(c);
  }
  return folded;
}

// A pixel count from a width or height attribute: leading digits, "px" allowed;
// anything else (a percentage, no digits) gives 0. Large values are held to the bound.
int ExtentFromAttribute(const std::wstring& value) {
  std::size_t at = 0;
  while (at < value.size() && IsSpace(value[at])) ++at;
  long number = 0;
  std::size_t digits = 0;
  for (; at < value.size() && IsDigit(value[at]); ++at, ++digits) {
    if (number <= kMaxObjectExtent) number = number * 10 + (value[at] - L'0');
  }
  if (digits == 0) return 0;
  if (at < value.size() && value[at] == L'%') return 0;
  return number > kMaxObjectExtent ? kMaxObjectExtent : static_cast<int>(number);
}

struct Attribute {
  std::wstring name;   // lower case
  std::wstring value;  // raw, entities not yet decoded
};

struct Tag {
  std::wstring name;  // lower case, without '/'
  bool closing = false;
  std::vector<Attribute> attributes;  // first of each name only
};

const std::wstring* FindAttribute(const Tag& tag, const wchar_t* name) {
  for (const Attribute& attribute : tag.attributes) {
    if (attribute.name == name) return &attribute.value;
  }
  return nullptr;
}

// The tag names and attributes the host keeps; the others are read only to be skipped.
bool IsKeptAttribute(const std::wstring& tag, const std::wstring& attribute) {
  if (tag == L"object") {
    return attribute == L"classid" || attribute == L"id" || attribute == L"width" || attribute == L"height";
  }
  if (tag == L"param") return attribute == L"name" || attribute == L"value";
  return false;
}

class Parser {
 public:
  Parser(const std::wstring& text, HtmlPage& page, std::wstring& error) : text_(text), page_(page), error_(error) {}

  bool Run() {
    std::size_t at = 0;
    while (ok_) {
      at = text_.find(L'<', at);
      if (at == std::wstring::npos) break;
      if (text_.compare(at, 4, L"<!--") == 0) {
        const std::size_t end = text_.find(L"-->", at + 4);
        if (end == std::wstring::npos) break;  // the rest of the page is a comment
        at = end + 3;
        continue;
      }
      if (at + 1 < text_.size() && (text_[at + 1] == L'!' || text_[at + 1] == L'?')) {
        const std::size_t end = text_.find(L'>', at + 2);  // a declaration or processing instruction
        if (end == std::wstring::npos) break;
        at = end + 1;
        continue;
      }
      Tag tag;
      std::size_t next = at;
      const TagRead read = ReadTag(at, tag, next);
      if (read == TagRead::kNotATag) {
        at += 1;  // a lone '<' in text
        continue;
      }
      if (read == TagRead::kTruncated) break;  // the page ends inside a tag
      at = next;
      if (!Handle(tag, at)) break;
    }
    if (ok_ && depth_ > 0) {
      Note(L"object " + std::to_wstring(seen_) + L" not closed before the end of the page");
      FinishObject();
    }
    return ok_;
  }

 private:
  enum class TagRead { kTag, kNotATag, kTruncated };

  // Reads the tag that starts at `at` (on its '<'); `next` is the position after its '>'.
  TagRead ReadTag(std::size_t at, Tag& tag, std::size_t& next) {
    std::size_t i = at + 1;
    if (i < text_.size() && text_[i] == L'/') {
      tag.closing = true;
      ++i;
    }
    if (i >= text_.size()) return TagRead::kTruncated;
    if (!IsAsciiLetter(text_[i])) return TagRead::kNotATag;
    const std::size_t nameStart = i;
    while (i < text_.size() && !IsSpace(text_[i]) && text_[i] != L'>' && text_[i] != L'/') ++i;
    tag.name = AsciiLower(text_.substr(nameStart, i - nameStart));
    while (true) {
      while (i < text_.size() && (IsSpace(text_[i]) || text_[i] == L'/')) ++i;
      if (i >= text_.size()) return TagRead::kTruncated;
      if (text_[i] == L'>') {
        next = i + 1;
        return TagRead::kTag;
      }
      const std::size_t attributeStart = i;
      while (i < text_.size() && !IsSpace(text_[i]) && text_[i] != L'=' && text_[i] != L'>' && text_[i] != L'/') ++i;
      Attribute attribute;
      attribute.name = AsciiLower(text_.substr(attributeStart, i - attributeStart));
      while (i < text_.size() && IsSpace(text_[i])) ++i;
      if (i < text_.size() && text_[i] == L'=') {
        ++i;
        while (i < text_.size() && IsSpace(text_[i])) ++i;
        if (i >= text_.size()) return TagRead::kTruncated;
        std::size_t valueStart = i;
        std::size_t valueEnd = i;
        if (text_[i] == L'"' || text_[i] == L'\'') {
          valueStart = i + 1;
          valueEnd = text_.find(text_[i], valueStart);
          if (valueEnd == std::wstring::npos) return TagRead::kTruncated;
          i = valueEnd + 1;
        } else {
          while (i < text_.size() && !IsSpace(text_[i]) && text_[i] != L'>') ++i;
          valueEnd = i;
        }
        if (!tag.closing && IsKeptAttribute(tag.name, attribute.name)) {
          attribute.value = text_.substr(valueStart, valueEnd - valueStart);
        }
      }
      if (!tag.closing && IsKeptAttribute(tag.name, attribute.name) &&
          FindAttribute(tag, attribute.name.c_str()) == nullptr) {
        tag.attributes.push_back(std::move(attribute));
      }
    }
  }

  // False when the rest of the page is to be passed over.
  bool Handle(const Tag& tag, std::size_t& at) {
    if (!tag.closing && (tag.name == L"title" || tag.name == L"script" || tag.name == L"style")) {
      const std::wstring closing = L"</" + tag.name;
      const std::size_t end = FindNoCase(text_, at, closing.c_str());
      const std::wstring content = text_.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
      if (tag.name == L"title" && !titleSeen_) {
        titleSeen_ = true;
        SetTitle(content);
      }
      if (end == std::wstring::npos) return false;
      const std::size_t close = text_.find(L'>', end);
      if (close == std::wstring::npos) return false;
      at = close + 1;
      return true;
    }
    if (tag.name == L"object") {
      if (tag.closing) {
        if (depth_ == 0) return true;  // a stray end tag
        if (--depth_ == 0) FinishObject();
        return ok_;
      }
      ++seen_;
      if (depth_++ > 0) {
        Note(L"object " + std::to_wstring(seen_) + L" inside another object is fallback content: not created");
        return true;
      }
      current_ = PageObject{};
      currentClassId_.clear();
      hasClassId_ = false;
      if (const std::wstring* classId = FindAttribute(tag, L"classid")) {
        hasClassId_ = true;
        if (!Decode(*classId, kMaxValueLength, L"classid", currentClassId_)) return false;
      }
      if (const std::wstring* id = FindAttribute(tag, L"id")) {
        if (!Decode(*id, kMaxValueLength, L"id", current_.id)) return false;
      }
      std::wstring extent;
      if (const std::wstring* width = FindAttribute(tag, L"width")) {
        if (!Decode(*width, kMaxValueLength, L"width", extent)) return false;
        current_.width = ExtentFromAttribute(extent);
      }
      if (const std::wstring* height = FindAttribute(tag, L"height")) {
        if (!Decode(*height, kMaxValueLength, L"height", extent)) return false;
        current_.height = ExtentFromAttribute(extent);
      }
      return true;
    }
    if (tag.name == L"param" && !tag.closing) {
      if (depth_ == 0) {
        Note(L"a param outside any object is ignored");
        return true;
      }
      if (depth_ > 1) return true;  // belongs to fallback content
      const std::wstring* name = FindAttribute(tag, L"name");
      if (name == nullptr) {
        Note(L"a param without a name in object " + std::to_wstring(seen_) + L" is ignored");
        return true;
      }
      if (current_.params.size() >= kMaxParamsPerObject) {
        return Fail(L"object " + std::to_wstring(seen_) + L" has more than " + std::to_wstring(kMaxParamsPerObject) +
                    L" parameters");
      }
      PageParam param;
      if (!Decode(*name, kMaxNameLength, L"param name", param.name)) return false;
      if (const std::wstring* value = FindAttribute(tag, L"value")) {
        if (!Decode(*value, kMaxValueLength, L"param value", param.value)) return false;
      }
      current_.params.push_back(std::move(param));
      return true;
    }
    return true;
  }

  void FinishObject() {
    if (!hasClassId_) {
      Note(L"object " + std::to_wstring(seen_) + L" has no classid: not created");
      return;
    }
    if (!ClassIdFromAttribute(currentClassId_, current_.classId)) {
      Note(L"object " + std::to_wstring(seen_) + L" has a classid that is not clsid:GUID: not created");
      return;
    }
    if (page_.objects.size() >= kMaxObjects) {
      Fail(L"the page has more than " + std::to_wstring(kMaxObjects) + L" objects");
      return;
    }
    page_.objects.push_back(std::move(current_));
  }

  void SetTitle(const std::wstring& raw) {
    // The raw text is at most the page's size; decoding never lengthens it.
    std::wstring title = FoldWhitespace(DecodeEntities(raw));
    if (title.size() > kMaxTitleLength) {
      title.resize(kMaxTitleLength);
      if (title.back() >= 0xD800 && title.back() <= 0xDBFF) title.pop_back();  // no half pair
    }
    page_.title = title;
  }

  bool Decode(const std::wstring& raw, std::size_t bound, const wchar_t* what, std::wstring& out) {
    out = DecodeEntities(raw);
    if (out.size() <= bound) return true;
    return Fail(std::wstring(what) + L" in object " + std::to_wstring(seen_) + L" is longer than " +
                std::to_wstring(bound) + L" characters");
  }

  bool Fail(const std::wstring& message) {
    error_ = message;
    ok_ = false;
    return false;
  }

  void Note(const std::wstring& note) {
    if (page_.notes.size() < kMaxNotes) {
      page_.notes.push_back(note);
    } else if (page_.notes.size() == kMaxNotes) {
      page_.notes.push_back(L"further notes left out");
    }
  }

  const std::wstring& text_;
  HtmlPage& page_;
  std::wstring& error_;
  bool ok_ = true;
  bool titleSeen_ = false;
  std::size_t depth_ = 0;  // open <object> elements
  std::size_t seen_ = 0;   // <object> start tags so far, for the notes
  PageObject current_;
  std::wstring currentClassId_;
  bool hasClassId_ = false;
};

}  // namespace

bool ParseHtmlPage(const std::wstring& text, HtmlPage& page, std::wstring& error) {
  page = HtmlPage{};
  error.clear();
  return Parser(text, page, error).Run();
}

const std::wstring* FindParam(const PageObject& object, const std::wstring& name) {
  const std::wstring wanted = AsciiLower(name);
  for (const PageParam& param : object.params) {
    if (AsciiLower(param.name) == wanted) return &param.value;
  }
  return nullptr;
}

bool ClassIdFromAttribute(const std::wstring& attribute, std::wstring& classId) {
  std::size_t start = 0;
  std::size_t end = attribute.size();
  while (start < end && IsSpace(attribute[start])) ++start;
  while (end > start && IsSpace(attribute[end - 1])) --end;
  if (!StartsWithNoCase(attribute, start, L"clsid:")) return false;
  start += 6;
  while (start < end && IsSpace(attribute[start])) ++start;
  if (end - start == 38) {
    if (attribute[start] != L'{' || attribute[end - 1] != L'}') return false;
    ++start;
    --end;
  }
  if (end - start != 36) return false;
  std::wstring guid = L"{";
  for (std::size_t i = 0; i < 36; ++i) {
    const wchar_t c = attribute[start + i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != L'-') return false;
    } else if (HexDigit(c) < 0) {
      return false;
    }
    guid.push_back((c >= L'a' && c <= L'f') ? static_cast<wchar_t>(c - L'a' + L'A') : c);
  }
  classId = guid + L"}";
  return true;
}

}  // namespace orvex::page_host

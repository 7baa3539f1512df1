#include "allowed_pages.h"

#include <cstddef>

#include "ascii_case.h"

#ifndef ORVEX_ALLOWED_PAGES
#error "ORVEX_ALLOWED_PAGES must be defined by the build"
#endif

namespace orvex {

namespace {

constexpr char kFileScheme[] = "file";
constexpr char kLocalHost[] = "localhost";

struct Span {
  const wchar_t* text = nullptr;
  std::size_t length = 0;
};

bool IsSchemeCharacter(wchar_t c, bool first) {
  const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
  if (first) return letter;
  return letter || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

bool IsHostCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
         c == L'-';
}

// The scheme and host of a URL. False when it has no scheme, or an authority
// that is not a plain host with an optional port of digits. A URL without an
// authority ("file:C:/...") has an empty host.
bool ParsePageUrl(const wchar_t* url, Span& scheme, Span& host) {
  std::size_t i = 0;
  while (url[i] != L'\0' && IsSchemeCharacter(url[i], i == 0)) ++i;
  if (i == 0 || url[i] != L':') return false;
  scheme = {url, i};
  const wchar_t* rest = url + i + 1;
  host = {rest, 0};
  if (rest[0] != L'/' || rest[1] != L'/') return true;
  const wchar_t* authority = rest + 2;
  std::size_t end = 0;
  while (authority[end] != L'\0' && authority[end] != L'/' && authority[end] != L'?' && authority[end] != L'#') {
    ++end;
  }
  std::size_t hostLength = end;
  for (std::size_t j = 0; j < end; ++j) {
    if (authority[j] != L':') continue;
    for (std::size_t k = j + 1; k < end; ++k) {
      if (authority[k] < L'0' || authority[k] > L'9') return false;
    }
    hostLength = j;
    break;
  }
  for (std::size_t j = 0; j < hostLength; ++j) {
    if (!IsHostCharacter(authority[j])) return false;  // '@' of user information among them
  }
  host = {authority, hostLength};
  return true;
}

// Whether text (ASCII, length bytes) equals span exactly, or without case.
bool Equals(const Span& span, const char* text, std::size_t length, bool ignoreCase) {
  if (span.length != length) return false;
  if (ignoreCase) return EqualNoCase(span.text, text, length);
  for (std::size_t i = 0; i < length; ++i) {
    if (span.text[i] != static_cast<wchar_t>(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

// Whether one list entry (not terminated) admits the page.
bool EntryAdmits(const char* entry, std::size_t length, const Span& scheme, const Span& host) {
  if (length != 0 && entry[length - 1] == ':') {
    // "file:": local files only.
    return Equals(scheme, entry, length - 1, false) && Equals(scheme, kFileScheme, sizeof(kFileScheme) - 1, false) &&
           (host.length == 0 || Equals(host, kLocalHost, sizeof(kLocalHost) - 1, true));
  }
  std::size_t schemeLength = 0;
  while (schemeLength + 2 < length && entry[schemeLength] != ':') ++schemeLength;
  if (schemeLength + 3 > length || entry[schemeLength + 1] != '/' || entry[schemeLength + 2] != '/') return false;
  if (!Equals(scheme, entry, schemeLength, false) || host.length == 0) return false;
  const char* pattern = entry + schemeLength + 3;
  const std::size_t patternLength = length - schemeLength - 3;
  if (patternLength > 2 && pattern[0] == '*' && pattern[1] == '.') {
    const char* domain = pattern + 2;
    const std::size_t domainLength = patternLength - 2;
    if (Equals(host, domain, domainLength, true)) return true;
    if (host.length <= domainLength + 1 || host.text[host.length - domainLength - 1] != L'.') return false;
    const Span tail = {host.text + host.length - domainLength, domainLength};
    return Equals(tail, domain, domainLength, true);
  }
  return Equals(host, pattern, patternLength, true);
}

}  // namespace

bool IsAllowedPage(const wchar_t* url, const char* list) {
  if (url == nullptr || list == nullptr) return false;
  Span scheme;
  Span host;
  if (!ParsePageUrl(url, scheme, host)) return false;
  for (const char* entry = list; *entry != '\0';) {
    std::size_t length = 0;
    while (entry[length] != '\0' && entry[length] != ';' && entry[length] != ',') ++length;
    if (length != 0 && EntryAdmits(entry, length, scheme, host)) return true;
    entry += length;
    if (*entry != '\0') ++entry;
  }
  return false;
}

bool IsAllowedPage(const wchar_t* url) { return IsAllowedPage(url, ORVEX_ALLOWED_PAGES); }

bool PageLockEnabled() { return ORVEX_ALLOWED_PAGES[0] != '\0'; }

}  // namespace orvex

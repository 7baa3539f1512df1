// What the installer takes from others, judged in this process: the record the
// server sends, and the publisher a package's certificate names.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package_trust.h"
#include "product_info.h"

namespace orvex {
namespace {

// The text exactly as its block holds it (length + 1 bytes, NUL last) in
// brackets, or "~" for none.
std::string BlockText(char* text) {
  if (text == nullptr) return "~";
  const SIZE_T size = GlobalSize(text);
  EXPECT_GE(size, 1u);
  EXPECT_EQ(text[size - 1], '\0');
  return "[" + std::string(text, size - 1) + "]";
}

std::string Version(PackedVersion v) {
  return std::to_string(v.high >> 16) + "." + std::to_string(v.high & 0xFFFF) + "." + std::to_string(v.low >> 16) +
         "." + std::to_string(v.low & 0xFFFF);
}

// Everything a reader can see of a record: "parsed interval latest second
// third size [first] [description]".
std::string Take(const ProductInfo& r) {
  return std::to_string(r.parsed) + " " + std::to_string(r.updateIntervalDays) +
         " " + Version(r.latestVersion) + " " + Version(r.secondVersion) + " " + Version(r.thirdVersion) + " " +
         std::to_string(r.packageSize) + " " + BlockText(r.firstText) + " " + BlockText(r.description);
}

std::string FeedChunks(const std::vector<std::string>& chunks) {
  ProductInfo record;
  record.Init();
  for (const std::string& c : chunks) record.Feed(c.data(), static_cast<std::int32_t>(c.size()));
  return Take(record);
}

const std::string kEmpty = "0 0 0.0.0.0 0.0.0.0 0.0.0.0 0 ~ ~";
const std::string kRecord = "7|1.0.0.5|0.0.0.0|1048576|x|Some text";
// Line breaks and zero bytes belong to a description that runs to the end.
const std::string kTail("Line one\r\nzero \0 byte\r\n", 23);

struct Case {
  std::vector<std::string> chunks;
  std::string expected;
};

const Case kCases[] = {
    // Without its closing bar a record runs to the end of the data.
    {{kRecord}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 1048576 [x] [Some text]"},
    {{"7|1.0.0.5|0.0.0.0|1|x|" + kTail}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 1 [x] [" + kTail + "]"},
    // Empty numbers and components are 0; versions may end with a full stop after d.
    {{"|1..3.4|0.0.0.0|5|a|b|"}, "1 0 1.0.3.4 0.0.0.0 0.0.0.0 5 [a] [b]"},
    {{"1|1.2.3.4.5.6.7.8.|x|d|9.9.9.9.ignored|\r\n"}, "1 1 1.2.3.4 5.6.7.8 9.9.9.9 0 [x] [d]"},
    {{"30|2.10.300.4000|1.0.0.0|123456|first text|A description\r\nwith lines|3.0.0.1|trailing | data\r\n"},
     "1 30 2.10.300.4000 1.0.0.0 3.0.0.1 123456 [first text] [A description\r\nwith lines]"},
    // Empty texts stay null.
    {{"7|1.0.0.5|0.0.0.0|1|||9.8.7.6."}, "1 7 1.0.0.5 0.0.0.0 9.8.7.6 1 ~ ~"},
    // A record cut short is still marked parsed, with what it had.
    {{"7|1.2"}, "1 7 1.2.0.0 0.0.0.0 0.0.0.0 0 ~ ~"},
    // Digits wrap (2^32, 2^16 per component) without spilling into neighbours.
    {{"4294967297|70000.70000.70000.70000|0.65536.0.65537|4294967306|"},
     "1 1 4464.4464.4464.4464 0.0.0.1 0.0.0.0 10 ~ ~"},
    // Format errors empty the whole record.
    {{"7|1.2.3|0.0.0.0|1|x|d"}, kEmpty},                   // bar after three components
    {{"7|1.2.3.4.5|1|x|d"}, kEmpty},                       // the fifth opens the next version
    {{"+7|1.0.0.5|0.0.0.0|1|x|d"}, kEmpty},                // sign
    {{"7|1.0.0.5|0.0.0.0|1\xB2|x|d"}, kEmpty},             // byte of 0x80 and above
    {{kRecord + "|\n"}, kEmpty},                           // line break where the third version goes
    {{kRecord + "|1.0.0.x"}, kEmpty},                      // error after both texts were made
    // After an error, a further chunk starts a new record.
    {{"x", "7|1.0.0.5|"}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 0 ~ ~"},
    // A chunk end closes the description; the next chunk is the third version.
    {{"7|1.0.0.5|0.0.0.0|1|x|Some", " text|2.0.0.1"}, kEmpty},
    {{"7|1.0.0.5|0.0.0.0|1|x|Some", "2.0.0.1|rest"}, "1 7 1.0.0.5 0.0.0.0 2.0.0.1 1 [x] [Some]"},
    // A first text open across several chunks is joined whole.
    {{"7|1.0.0.5|0.0.0.0|1|ab", "", "cd", "e", "f|desc"}, "1 7 1.0.0.5 0.0.0.0 0.0.0.0 1 [abcdef] [desc]"},
};

TEST(ProductInfo, RecordsParseToTheirFieldsOrEmptyWhole) {
  for (const Case& c : kCases) {
    std::string trace;
    for (const std::string& chunk : c.chunks) trace += "<" + chunk + ">";
    EXPECT_EQ(FeedChunks(c.chunks), c.expected) << trace;
  }
}

// The publisher is compared in Unicode, exactly: a conversion to the ANSI
// code page maps distinct characters onto the same letters.
TEST(PublisherName, OnlyTheSameUnicodeTextIsThePublisher) {
  EXPECT_TRUE(IsPublisherName(L"Brindlewood", L"Brindlewood"));
  EXPECT_TRUE(IsPublisherName(L"Br\x012Bndlew\xF6od", L"Br\x012Bndlew\xF6od"));
  for (const wchar_t* other : {L"\xFF22rindlewood", L"Br\x012Bndlewood", L"Brindlew\x014Dod", L"Brindlewood\x200B",
                               L"brindlewood", L"Brindlewood ", L""}) {
    EXPECT_FALSE(IsPublisherName(other, L"Brindlewood")) << testing::PrintToString(std::wstring(other));
  }
  EXPECT_FALSE(IsPublisherName(nullptr, L"Brindlewood"));
}

}  // namespace
}  // namespace orvex

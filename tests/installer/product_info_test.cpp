#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "product_info.h"

namespace orvex {
namespace {

// Everything a reader can see of a record, with the texts copied out.
struct Snapshot {
  bool parsed;
  std::int32_t parseState;
  std::uint32_t interval;
  std::uint64_t latest, second, third;
  std::uint32_t size;
  std::optional<std::string> firstText, description;

  bool operator==(const Snapshot& o) const {
    return parsed == o.parsed && parseState == o.parseState && interval == o.interval &&
           latest == o.latest && second == o.second && third == o.third && size == o.size &&
           firstText == o.firstText && description == o.description;
  }
};

std::ostream& operator<<(std::ostream& os, const Snapshot& s) {
  return os << "parsed=" << s.parsed << " state=" << s.parseState << " interval=" << s.interval
            << " latest=" << s.latest << " second=" << s.second << " third=" << s.third
            << " size=" << s.size << " first=" << s.firstText.value_or("<null>")
            << " description=" << s.description.value_or("<null>");
}

// The text exactly as its block holds it: the block is length + 1 bytes, NUL last.
std::optional<std::string> BlockText(char* text) {
  if (text == nullptr) return std::nullopt;
  const SIZE_T size = GlobalSize(text);
  EXPECT_GE(size, 1u);
  EXPECT_EQ(text[size - 1], '\0');
  return std::string(text, size - 1);
}

Snapshot Take(const ProductInfo& r) {
  return {r.parsed, r.parseState, r.updateIntervalDays, r.latestVersion.Value(),
          r.secondVersion.Value(), r.thirdVersion.Value(), r.packageSize,
          BlockText(r.firstText), BlockText(r.description)};
}

Snapshot FeedChunks(const std::vector<std::string>& chunks) {
  ProductInfo record;
  record.Init();
  for (const std::string& c : chunks) record.Feed(c.data(), static_cast<std::int32_t>(c.size()));
  return Take(record);
}

const Snapshot kEmpty{false, 0, 0, 0, 0, 0, 0, std::nullopt, std::nullopt};
constexpr std::uint64_t V(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  return PackedVersion::Make(a, b, c, d).Value();
}
const std::string kRecord = "7|1.0.0.5|0.0.0.0|1048576|x|Some text";

TEST(ProductInfo, RecordWithoutClosingBarRunsToTheEndOfTheData) {
  EXPECT_EQ(FeedChunks({kRecord}),
            (Snapshot{true, 14, 7, V(1, 0, 0, 5), 0, 0, 1048576, "x", "Some text"}));
  // Line breaks and zero bytes belong to a description that runs to the end.
  const std::string tail("Line one\r\nzero \0 byte\r\n", 23);
  EXPECT_EQ(FeedChunks({"7|1.0.0.5|0.0.0.0|1048576|x|" + tail}).description, tail);
  // A NUL-terminated chunk (count -1) ends at its terminator.
  ProductInfo record;
  record.Init();
  record.Feed((kRecord + "|2.0.0.0|").c_str(), -1);
  EXPECT_EQ(Take(record), (Snapshot{true, 18, 7, V(1, 0, 0, 5), 0, V(2, 0, 0, 0), 1048576,
                                    "x", "Some text"}));
}

TEST(ProductInfo, ValidRecordsParseToTheirFields) {
  // Empty numbers and components are 0; versions may end with a full stop after d.
  EXPECT_EQ(FeedChunks({"|1..3.4|0.0.0.0|5|a|b|"}),
            (Snapshot{true, 14, 0, V(1, 0, 3, 4), 0, 0, 5, "a", "b"}));
  EXPECT_EQ(FeedChunks({"1|1.2.3.4.5.6.7.8.|x|d|9.9.9.9.ignored|\r\n"}),
            (Snapshot{true, 18, 1, V(1, 2, 3, 4), V(5, 6, 7, 8), V(9, 9, 9, 9), 0, "x", "d"}));
  // Empty texts stay null.
  EXPECT_EQ(FeedChunks({"7|1.0.0.5|0.0.0.0|1|||1.0.0.0|\n"}),
            (Snapshot{true, 18, 7, V(1, 0, 0, 5), 0, V(1, 0, 0, 0), 1, {}, {}}));
  // A record cut short is still marked parsed, with what it had.
  EXPECT_EQ(FeedChunks({"7|1.2"}), (Snapshot{true, 2, 7, V(1, 2, 0, 0), 0, 0, 0, {}, {}}));
}

TEST(ProductInfo, DigitsWrapWithoutSpillingIntoNeighbours) {
  const Snapshot s = FeedChunks({"4294967297|70000.70000.70000.70000|0.65536.0.65537|4294967306|"});
  EXPECT_EQ(s.interval, 1u);
  EXPECT_EQ(s.latest, V(4464, 4464, 4464, 4464));
  EXPECT_EQ(s.second, V(0, 0, 0, 1));
  EXPECT_EQ(s.size, 10u);
}

TEST(ProductInfo, FormatErrorsEmptyTheWholeRecord) {
  for (const std::string& bad : {
           std::string("7|1.2.3|0.0.0.0|1|x|d"),      // bar after three components
           std::string("7|1.2.3.4.5|1|x|d"),          // the fifth opens the next version
           std::string("7 |1.0.0.5|0.0.0.0|1|x|d"),   // blank in a number
           std::string("+7|1.0.0.5|0.0.0.0|1|x|d"),   // sign
           std::string("7|1.0.\t0.5|0.0.0.0|1|x|d"),  // tab in a version
           std::string("7|1.0.0.5|0.0.0.0|1\xB2|x|d"),  // byte of 0x80 and above
           std::string("\xEF\xBB\xBF" "7|1.0.0.5|0.0.0.0|1|x|d"),  // byte-order mark
           kRecord + "|\n",                              // line break where the third version goes
           kRecord + "|1.0.0.x",                         // error after both texts were made
       }) {
    EXPECT_EQ(FeedChunks({bad}), kEmpty) << bad;
  }
  // After an error, a further chunk starts a new record.
  EXPECT_EQ(FeedChunks({"x", "7|1.0.0.5|"}).latest, V(1, 0, 0, 5));
}

TEST(ProductInfo, EmptyChunksKeepTheRecordAndSetParsed) {
  ProductInfo record;
  record.Init();
  record.Feed("7|1.0.0.5|0.0.0.0|12|fir", 24);
  const Snapshot before = Take(record);
  record.Feed("", 0);
  record.Feed(nullptr, 5);
  record.Feed(nullptr, -1);
  record.Feed("ignored", -7);
  EXPECT_EQ(Take(record), before);
  record.Feed("st|d", 4);
  EXPECT_EQ(Take(record).firstText, "first");

  ProductInfo fresh;
  fresh.Init();
  fresh.Feed("", 0);
  EXPECT_TRUE(fresh.parsed);
  EXPECT_EQ(fresh.parseState, 0);
}

TEST(ProductInfo, ChunksContinueWhereTheyStopped) {
  // A chunk end closes the description; the next chunk is the third version.
  EXPECT_EQ(FeedChunks({"7|1.0.0.5|0.0.0.0|1|x|Some", " text|2.0.0.1"}), kEmpty);
  EXPECT_EQ(FeedChunks({"7|1.0.0.5|0.0.0.0|1|x|Some", "2.0.0.1|rest"}),
            (Snapshot{true, 18, 7, V(1, 0, 0, 5), 0, V(2, 0, 0, 1), 1, "x", "Some"}));
  // A first text open across several chunks is joined whole.
  EXPECT_EQ(FeedChunks({"7|1.0.0.5|0.0.0.0|1|ab", "", "cd", "e", "f|desc"}).firstText, "abcdef");
  // Reset releases a carried text and starts over.
  ProductInfo record;
  record.Init();
  record.Feed("7|1.0.0.5|0.0.0.0|1|stale", -1);
  record.Reset();
  EXPECT_EQ(Take(record), kEmpty);
  record.Feed("7|1.0.0.5|0.0.0.0|1|", -1);
  record.Feed("new|d", -1);
  EXPECT_EQ(Take(record).firstText, "new");
}

// For valid records, every split into two chunks gives the record that one
// chunk gives, except where the first chunk ends inside the description (or
// just before its closing bar): a chunk end closes the description, so those
// splits differ by design and are left out.
TEST(ProductInfo, EverySplitOutsideTheDescriptionGivesTheSameRecord) {
  const std::vector<std::string> records = {
      "7|1.0.0.5|0.0.0.0|1048576|x|Some text",
      "30|2.10.300.4000|1.0.0.0|123456|first text here|A description\r\nwith lines|"
      "3.0.0.1|trailing | data\r\n",
      "7|1.0.0.5|0.0.0.0|1|||9.8.7.6.",
      "|1..3.4.5.6.7.8.|first only||1.2.3.4|",
      "1|1.0.0.0|1.0.0.0|5|x|",
  };
  for (const std::string& data : records) {
    const Snapshot whole = FeedChunks({data});
    ASSERT_TRUE(whole.parsed) << data;
    // Where the description lies: after "|first|", up to its bar or the end.
    const std::string first = whole.firstText.value_or("");
    const std::string desc = whole.description.value_or("");
    const std::size_t start = data.find("|" + first + "|" + desc) + first.size() + 2;
    const std::size_t end = start + desc.size();
    for (std::size_t k = 0; k <= data.size(); ++k) {
      const bool insideDescription = !desc.empty() && k > start && k <= end && k < data.size();
      if (insideDescription) continue;
      EXPECT_EQ(FeedChunks({data.substr(0, k), data.substr(k)}), whole) << data << " @" << k;
    }
  }
}

}  // namespace
}  // namespace orvex

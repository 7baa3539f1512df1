// The records the publishing tool wrote at build time (published/ in the build
// tree), read back by the installer's own parser as the update job reads them:
// one chunk, at most 5000 bytes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "product_info.h"
#include "test_registry.h"

namespace orvex {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The sample package as "Quillon", and a viewer double, unsigned, whose header
// the tool patched, as "PatchedViewer" (see CMakeLists.txt). The package is
// the program as built, with 'M', 'Z', 0x01, 0x01 first, under the lowercase
// name and the version the record states.
TEST(PublishedRecord, RecordsAndPackagesReadBack) {
  const struct {
    const char* product;
    const char* program;
    const char* package;
    std::uint32_t interval;
    PackedVersion version;
    const char* description;
  } cases[] = {
      // The description file's UTF-8 in the ANSI code page, its line break as CR LF
      // and the one at its end dropped.
      {"Quillon", "sample_setup.exe", "quillon\\download\\quillon_10-24-0-0.exe", 7,
       PackedVersion::Make(10, 24, 0, 0),
       "Quillon 10.24 \x97 the sample viewer.\r\nPages open faster; caf\xE9 fonts look sharper."},
      {"PatchedViewer", "viewer_quillon_10_23_0_5.dll", "patchedviewer\\download\\patchedviewer_10-23-0-5.exe", 0,
       PackedVersion::Make(10, 23, 0, 5), "A viewer double, its header patched"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    std::string lower = c.product;
    ::CharLowerA(lower.data());
    const std::string published = test::TestFilePath("..\\..\\published\\");
    const std::string record = ReadAll(published + lower + "\\info.txt");
    ASSERT_FALSE(record.empty());
    ASSERT_LE(record.size(), 5000u);
    ProductInfo info;
    info.Init();
    info.Feed(record.data(), static_cast<std::int32_t>(record.size()));
    EXPECT_EQ(info.parseState, ProductInfo::kPastRecord) << "the record closes its description and third version";
    EXPECT_EQ(info.updateIntervalDays, c.interval);
    EXPECT_EQ(info.latestVersion.Value(), c.version.Value());
    EXPECT_TRUE(info.secondVersion.IsZero() && info.thirdVersion.IsZero());
    EXPECT_STREQ(info.firstText, c.product);
    EXPECT_STREQ(info.description, c.description);

    std::string expected = ReadAll(test::TestFilePath(c.program));
    ASSERT_GT(expected.size(), 64u);
    EXPECT_EQ(info.packageSize, expected.size());
    expected.replace(0, 4, "MZ\x01\x01");
    EXPECT_TRUE(ReadAll(published + c.package) == expected) << "only bytes 2-3 may differ from the program";
  }
}

}  // namespace
}  // namespace orvex

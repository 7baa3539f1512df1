// The records the publishing tool wrote at build time (published/ in the build
// tree), read back by the installer's own parser as the update job reads them:
// one chunk, at most 5000 bytes. Versions are compared with what the platform's
// version API reads from the same programs.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "product_info.h"
#include "test_registry.h"

namespace orvex {
namespace {

constexpr std::size_t kRecordReadSize = 5000;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string PublishedPath(const std::string& relative) { return test::TestFilePath("..\\..\\published\\") + relative; }

// The file version of a program as the platform reads it; zero when it has none.
PackedVersion PlatformFileVersion(const std::string& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
      !::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof(*fixed)) {
    return {};
  }
  return PackedVersion::FromHighLow(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
}

// The package file name the update job forms from the record: the lowercase
// name, "_", the version as a-b-c-d, ".exe".
std::string PackageFileName(const std::string& lowerProduct, PackedVersion version) {
  char name[128];
  std::snprintf(name, sizeof(name), "%s_%u-%u-%u-%u.exe", lowerProduct.c_str(), version.high >> 16,
                version.high & 0xFFFF, version.low >> 16, version.low & 0xFFFF);
  return name;
}

// The sample package as "Quillon", and a viewer double, unsigned, whose header
// the tool patched, as "PatchedViewer" (see CMakeLists.txt). Each record is fed
// in one chunk and read back field by field; the package is the program as
// built, with 'M', 'Z', 0x01, 0x01 first, under the lowercase name.
TEST(PublishedRecord, RecordsAndPackagesReadBack) {
  const struct {
    const char* product;
    const char* program;
    std::uint32_t interval;
    PackedVersion version;
    const char* description;
    bool patched;  // the program lacks the signature the download checks
  } cases[] = {
      // The description file's UTF-8 in the ANSI code page, its line break as CR LF
      // and the one at its end dropped.
      {"Quillon", "sample_setup.exe", 7, PackedVersion::Make(10, 24, 0, 0),
       "Quillon 10.24 \x97 the sample viewer.\r\nPages open faster; caf\xE9 fonts look sharper.", false},
      {"PatchedViewer", "viewer_quillon_10_23_0_5.dll", 0, PackedVersion::Make(10, 23, 0, 5),
       "A viewer double, its header patched", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    std::string lower = c.product;
    ::CharLowerA(lower.data());
    const std::string program = test::TestFilePath(c.program);
    const std::string original = ReadAll(program);
    ASSERT_GT(original.size(), 64u);
    EXPECT_EQ(original.compare(0, 4, "MZ\x01\x01") != 0, c.patched);
    EXPECT_EQ(PlatformFileVersion(program).Value(), c.version.Value()) << "the program's own version resource";

    const std::string record = ReadAll(PublishedPath(lower + "\\info.txt"));
    ASSERT_FALSE(record.empty());
    ASSERT_LE(record.size(), kRecordReadSize);
    ProductInfo info;
    info.Init();
    info.Feed(record.data(), static_cast<std::int32_t>(record.size()));
    ASSERT_TRUE(info.parsed);
    EXPECT_EQ(info.parseState, ProductInfo::kPastRecord) << "the record closes its description and third version";
    EXPECT_EQ(info.updateIntervalDays, c.interval);
    EXPECT_EQ(info.latestVersion.Value(), c.version.Value());
    EXPECT_TRUE(info.secondVersion.IsZero());
    EXPECT_TRUE(info.thirdVersion.IsZero());
    EXPECT_EQ(info.packageSize, original.size());
    ASSERT_NE(info.firstText, nullptr);
    ASSERT_NE(info.description, nullptr);
    EXPECT_STREQ(info.firstText, c.product);
    EXPECT_STREQ(info.description, c.description);

    const std::string packagePath = PublishedPath(lower + "\\download\\" + PackageFileName(lower, c.version));
    std::string expected = original;
    expected.replace(0, 4, "MZ\x01\x01");
    EXPECT_TRUE(ReadAll(packagePath) == expected) << "only bytes 2-3 may differ from the program";
  }
}

}  // namespace
}  // namespace orvex

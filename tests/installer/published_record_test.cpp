// The records the publishing tool wrote at build time (published/ in the build
// tree), read back by the installer's own parser as the update job reads them:
// one chunk, at most 5000 bytes. Versions are compared with what the platform's
// version API reads from the same programs.
#include <gtest/gtest.h>

#include <windows.h>

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

struct Parsed {
  bool ok = false;
  std::string firstText, description;
};

// Feeds the record in one chunk and checks what every record of the tool has:
// it closes, both versions after the description are zero, both texts are set.
void ParsePublished(const std::string& record, ProductInfo& info, Parsed& parsed) {
  ASSERT_FALSE(record.empty());
  ASSERT_LE(record.size(), kRecordReadSize);
  info.Init();
  info.Feed(record.data(), static_cast<std::int32_t>(record.size()));
  ASSERT_TRUE(info.parsed);
  EXPECT_EQ(info.parseState, ProductInfo::kPastRecord) << "the record closes its description and third version";
  EXPECT_TRUE(info.secondVersion.IsZero());
  EXPECT_TRUE(info.thirdVersion.IsZero());
  ASSERT_NE(info.firstText, nullptr);
  ASSERT_NE(info.description, nullptr);
  parsed = {true, info.firstText, info.description};
}

TEST(PublishedRecord, SampleSetupReadsBackFieldByField) {
  const std::string sample = test::TestFilePath("sample_setup.exe");
  const std::string samplePackage = ReadAll(sample);
  ASSERT_GT(samplePackage.size(), 4u);

  ProductInfo info;
  Parsed parsed;
  ParsePublished(ReadAll(PublishedPath("quillon\\info.txt")), info, parsed);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(info.updateIntervalDays, 7u);
  const PackedVersion expected = PlatformFileVersion(sample);
  EXPECT_EQ(expected.Value(), PackedVersion::Make(10, 24, 0, 0).Value()) << "the sample's own version resource";
  EXPECT_EQ(info.latestVersion.Value(), expected.Value());
  EXPECT_EQ(info.packageSize, samplePackage.size());
  EXPECT_EQ(parsed.firstText, "Quillon");
  // The description file's UTF-8 in the ANSI code page, its line break as CR LF
  // and the one at its end dropped.
  EXPECT_EQ(parsed.description,
            "Quillon 10.24 \x97 the sample viewer.\r\nPages open faster; caf\xE9 fonts look sharper.");

  const std::string package = ReadAll(PublishedPath("quillon\\download\\" + PackageFileName("quillon", info.latestVersion)));
  EXPECT_EQ(package.size(), info.packageSize);
  EXPECT_TRUE(package == samplePackage) << "the published package is the sample package, byte for byte";
}

TEST(PublishedRecord, PatchedPackageUnderTheLowercaseName) {
  const std::string viewer = test::TestFilePath("viewer_quillon_10_23_0_5.dll");
  const std::string original = ReadAll(viewer);
  ASSERT_GT(original.size(), 64u);
  ASSERT_EQ(original.compare(0, 2, "MZ"), 0);
  ASSERT_NE(original.compare(0, 4, "MZ\x01\x01"), 0) << "the double keeps its own header";

  ProductInfo info;
  Parsed parsed;
  ParsePublished(ReadAll(PublishedPath("patchedviewer\\info.txt")), info, parsed);
  ASSERT_TRUE(parsed.ok);
  EXPECT_EQ(info.updateIntervalDays, 0u);
  EXPECT_EQ(info.latestVersion.Value(), PlatformFileVersion(viewer).Value());
  EXPECT_EQ(info.latestVersion.Value(), PackedVersion::Make(10, 23, 0, 5).Value());
  EXPECT_EQ(info.packageSize, original.size());
  EXPECT_EQ(parsed.firstText, "PatchedViewer");
  EXPECT_EQ(parsed.description, "A viewer double, its header patched");

  const std::string package =
      ReadAll(PublishedPath("patchedviewer\\download\\" + PackageFileName("patchedviewer", info.latestVersion)));
  ASSERT_EQ(package.size(), original.size());
  EXPECT_EQ(package.compare(0, 4, "MZ\x01\x01"), 0) << "the signature the download checks";
  EXPECT_TRUE(package.compare(4, std::string::npos, original, 4, std::string::npos) == 0)
      << "only bytes 2-3 differ";
  // The platform still reads the patched copy as the program it was.
  EXPECT_EQ(PlatformFileVersion(PublishedPath("patchedviewer\\download\\patchedviewer_10-23-0-5.exe")).Value(),
            info.latestVersion.Value());
}

}  // namespace
}  // namespace orvex

// Reading viewer modules' version resources.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module_version.h"
#include "test_registry.h"

namespace orvex {
namespace {

using test::TestFilePath;

struct ModuleRead {
  DWORD size;
  PackedVersion version;
  std::string name;
};

ModuleRead Read(const char* dll) {
  ModuleRead read{0, PackedVersion::Make(7, 7, 7, 7), {}};
  char name[50];
  std::memset(name, 0, sizeof(name));
  std::strcpy(name, "before");
  read.size = ReadModuleVersion(TestFilePath(dll).c_str(), &read.version, name);
  read.name = name;
  return read;
}

TEST(ModuleVersion, FileVersionAndUsEnglishInternalName) {
  const ModuleRead old = Read("viewer_quillon_10_23_0_5.dll");
  EXPECT_GT(old.size, 0u);
  EXPECT_EQ(old.version, PackedVersion::Make(10, 23, 0, 5));
  EXPECT_EQ(old.name, "Quillon");
  EXPECT_EQ(Read("viewer_quillon_viewer.dll").name, "Quillon Viewer");
}

TEST(ModuleVersion, NamesOutsideTheUsEnglishTableOrTooLongAreNotTaken) {
  const ModuleRead unnamed = Read("viewer_unnamed.dll");
  EXPECT_EQ(unnamed.version, PackedVersion::Make(2, 5, 0, 7));
  EXPECT_EQ(unnamed.name, "before");
  const ModuleRead german = Read("viewer_german_name.dll");
  EXPECT_EQ(german.version, PackedVersion::Make(3, 0, 0, 1));
  EXPECT_EQ(german.name, "before");
  const ModuleRead longName = Read("viewer_long_name.dll");
  EXPECT_EQ(longName.version, PackedVersion::Make(1, 2, 3, 4));
  EXPECT_EQ(longName.name, "before") << "a name longer than 49 characters must not overflow nor be cut";
}

TEST(ModuleVersion, ModulesWithoutVersionInformationLeaveTheOutputsAlone) {
  // This test program carries no version resource.
  char self[MAX_PATH];
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  PackedVersion version = PackedVersion::Make(1, 1, 1, 1);
  char name[50] = "kept";
  EXPECT_EQ(ReadModuleVersion(self, &version, name), 0u);
  EXPECT_EQ(version, PackedVersion::Make(1, 1, 1, 1));
  EXPECT_STREQ(name, "kept");
  EXPECT_EQ(ReadModuleVersion("C:\\no\\such\\module.dll", &version, name), 0u);
  // Neither output wanted: only the size.
  EXPECT_GT(ReadModuleVersion(TestFilePath("viewer_unnamed.dll").c_str(), nullptr, nullptr), 0u);
}

}  // namespace
}  // namespace orvex

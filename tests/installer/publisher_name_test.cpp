// The publisher a certificate states is compared in Unicode, exactly: a
// conversion to the ANSI code page maps distinct characters onto the same
// letters.
#include <gtest/gtest.h>

#include "package_trust.h"

namespace orvex {
namespace {

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

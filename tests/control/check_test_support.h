// Common ground of the install-check tests: per-test product names and class
// identifiers that are cleaned before and after, and the double's record.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "check_host.h"
#include "test_registry.h"

namespace orvex::test {

constexpr DWORD kCheckTimeoutMs = 30000;

class CheckTest : public ::testing::Test {
 protected:
  // Registers a product or rendezvous name for cleaning before and after the test.
  std::string Product(const std::string& name) {
    ForgetProduct(name);
    names_.push_back(name);
    return name;
  }
  // A class identifier no other test uses, cleaned likewise.
  std::string Clsid(unsigned n) {
    char text[64];
    std::snprintf(text, sizeof(text), "{0F0E0D0C-0B0A-4000-8000-%012X}", n);
    UnregisterViewerModule(text);
    clsids_.push_back(text);
    return text;
  }
  void TearDown() override {
    for (const auto& name : names_) ForgetProduct(name);
    for (const auto& clsid : clsids_) UnregisterViewerModule(clsid);
  }

  // Runs one check to its end on a host thread; what it did to the host window.
  static std::vector<std::string> RunCheck(const std::string& info, CheckHost::Options options = {}) {
    CheckHost host(info, options);
    EXPECT_TRUE(host.WindowWasActive());
    EXPECT_TRUE(host.WaitDone(kCheckTimeoutMs)) << "the check did not return: " << info;
    return host.Events();
  }

  // Runs a check of info nested on the host's thread, from a message that the
  // loop the host's check runs dispatches; true once it returned.
  static bool RunNestedCheck(HWND host, const std::string& info) {
    DWORD_PTR answer = 0;
    return ::SendMessageTimeoutA(host, kNestedCheckMessage, 0, reinterpret_cast<LPARAM>(info.c_str()), SMTO_NORMAL,
                                 kCheckTimeoutMs, &answer) != 0;
  }

 private:
  std::vector<std::string> names_;
  std::vector<std::string> clsids_;
};

}  // namespace orvex::test

// The install check the control runs when its host sets Info.
#pragma once

namespace orvex {

// info is the ANSI text of Info ("product|{viewer CLSID}|download base URL");
// null counts as empty. Runs synchronously on the calling thread, reports
// nothing: every failure is silent but for the old-version message box.
void InstallCheck(const char* info);

}  // namespace orvex

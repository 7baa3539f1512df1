// The maker's registry key and the two values both deliverables share, all
// under HKEY_LOCAL_MACHINE.
#pragma once

namespace orvex {

// "SOFTWARE\Brindlewood\" + product holds "Version" (written by the product's
// own setup, read by the control).
constexpr char kMakerKey[] = "SOFTWARE\\Brindlewood\\";
constexpr char kVersionValue[] = "Version";

// "SOFTWARE\Brindlewood\Downloads\" + product holds "NextUpdateTime" (written
// by the installer, read and deleted by the control).
constexpr char kDownloadsSubkey[] = "Downloads\\";
constexpr char kNextUpdateTimeValue[] = "NextUpdateTime";

// Size of the buffers that hold one of the paths above.
constexpr unsigned kRegistryPathSize = 264;

}  // namespace orvex

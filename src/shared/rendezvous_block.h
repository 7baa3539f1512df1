// The shared-memory record one install rendezvous carries from the control to
// the installer program. Written only by the control, read only by the installer.
#pragma once

#include <cstddef>

#include "packed_version.h"

namespace orvex {

constexpr std::size_t kProductNameSize = 50;
constexpr std::size_t kViewerClsidSize = 50;
constexpr std::size_t kDownloadBaseUrlSize = 260;
constexpr std::size_t kInfoBaseUrlSize = 264;

// The longest rendezvous (product) name: it must fit productName with its NUL.
constexpr std::size_t kMaxProductNameLength = kProductNameSize - 1;

struct RendezvousBlock {
  char productName[kProductNameSize];          // ANSI, NUL-terminated
  char viewerClsid[kViewerClsidSize];          // registry form with braces, or empty
  char downloadBaseUrl[kDownloadBaseUrlSize];  // prefix of the package URL
  char infoBaseUrl[kInfoBaseUrlSize];          // prefix of the information-record URL
  PackedVersion installedVersion;              // 0 means nothing installed
};

constexpr std::size_t kRendezvousBlockSize = 632;

static_assert(offsetof(RendezvousBlock, productName) == 0, "productName offset");
static_assert(offsetof(RendezvousBlock, viewerClsid) == 50, "viewerClsid offset");
static_assert(offsetof(RendezvousBlock, downloadBaseUrl) == 100, "downloadBaseUrl offset");
static_assert(offsetof(RendezvousBlock, infoBaseUrl) == 360, "infoBaseUrl offset");
static_assert(offsetof(RendezvousBlock, installedVersion) == 624, "installedVersion offset");
static_assert(offsetof(RendezvousBlock, installedVersion) + offsetof(PackedVersion, low) == 624,
              "installedVersion low half offset");
static_assert(offsetof(RendezvousBlock, installedVersion) + offsetof(PackedVersion, high) == 628,
              "installedVersion high half offset");
static_assert(sizeof(RendezvousBlock) == kRendezvousBlockSize, "the block is 632 bytes, no padding");

// True when every text field of the block ends inside its field. The installer
// reads a block another process wrote, and reads no further than that.
bool IsWellFormedBlock(const RendezvousBlock& block);

}  // namespace orvex

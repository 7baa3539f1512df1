#include "rendezvous_block.h"

#include <cstring>

namespace orvex {

namespace {
template <std::size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}
}  // namespace

bool IsWellFormedBlock(const RendezvousBlock& block) {
  return Terminated(block.productName) && Terminated(block.viewerClsid) && Terminated(block.downloadBaseUrl) &&
         Terminated(block.infoBaseUrl);
}

}  // namespace orvex

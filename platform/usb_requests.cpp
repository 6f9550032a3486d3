#include "platform/usb_requests.h"

#include <string_view>

#include "wire/byte_order.h"

namespace omr72 {
namespace {

constexpr uint8_t kEndpointIn = 0x80;
constexpr uint8_t kTransferTypeMask = 0x03;
constexpr uint8_t kTransferBulk = 2;
constexpr uint8_t kTransferInterrupt = 3;

}  // namespace

std::optional<unsigned> UsbDeviceIndex(const char* path) {
  constexpr std::string_view kPrefix = R"(\\.\ezusb-)";
  if (path == nullptr) return std::nullopt;
  std::string_view p(path);
  if (p.size() != kPrefix.size() + 1 || !p.starts_with(kPrefix)) return std::nullopt;
  char digit = p.back();
  if (digit < '0' || digit > '9') return std::nullopt;
  return static_cast<unsigned>(digit - '0');
}

std::optional<ControlSetup> DecodeVendorRequest(const VendorRequestBlock& block, uint32_t length) {
  const uint8_t direction = block[0], type = block[1], recipient = block[2];
  // Only class (1) and vendor (2) requests pass this driver call; recipients are device,
  // interface, endpoint or other.
  if (direction > 1 || type < 1 || type > 2 || recipient > 3 || length > 0xFFFF) {
    return std::nullopt;
  }
  ControlSetup setup;
  setup.requestType = static_cast<uint8_t>(direction << 7 | type << 5 | recipient);
  setup.request = block[4];
  setup.value = LoadLe16(block, 6);
  setup.index = LoadLe16(block, 8);
  setup.length = static_cast<uint16_t>(length);
  return setup;
}

std::optional<UsbEndpoint> PipeEndpoint(const std::vector<UsbEndpoint>& endpoints,
                                        const BulkPipeBlock& pipe, bool in) {
  uint32_t index = LoadLe32(pipe);
  if (index >= endpoints.size()) return std::nullopt;
  const UsbEndpoint& e = endpoints[index];
  bool isIn = (e.address & kEndpointIn) != 0;
  uint8_t type = e.attributes & kTransferTypeMask;
  bool streams = type == kTransferBulk || type == kTransferInterrupt;
  if (isIn != in || !streams) return std::nullopt;
  return e;
}

}  // namespace omr72

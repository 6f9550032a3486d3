// The data stage of one device request, its direction part of its type: a buffer the device
// fills (In) or bytes the device is sent (Out), as sg3_utils' set_scsi_pt_data_in / _out.
// A stage without bytes keeps its direction, which still goes on the wire.
#pragma once

#include <cstdint>

#include "wire/byte_order.h"
#include "wire/recorder_wire.h"

namespace omr72 {

constexpr uint8_t kDataOut = wire::kDirectionOut;  // SCSI_IOCTL_DATA_OUT: data to the device
constexpr uint8_t kDataIn = wire::kDirectionIn;    // SCSI_IOCTL_DATA_IN: data from the device

class DataStage {
 public:
  DataStage() = default;  // in, no bytes
  static DataStage In(ByteSpan buffer) { return DataStage(buffer, {}, true); }
  static DataStage Out(ConstByteSpan data) { return DataStage({}, data, false); }

  bool isIn() const { return isIn_; }
  uint8_t direction() const { return isIn_ ? kDataIn : kDataOut; }
  ByteSpan in() const { return in_; }         // empty for an Out stage
  ConstByteSpan out() const { return out_; }  // empty for an In stage
  ConstByteSpan bytes() const { return isIn_ ? ConstByteSpan(in_) : out_; }
  uint32_t size() const { return static_cast<uint32_t>(bytes().size()); }
  bool empty() const { return bytes().empty(); }

  // Bytes at a real address, and no more than `maxSize` of them.
  bool FitsWithin(size_t maxSize) const {
    return bytes().size() <= maxSize && (bytes().empty() || bytes().data() != nullptr);
  }

 private:
  DataStage(ByteSpan in, ConstByteSpan out, bool isIn) : in_(in), out_(out), isIn_(isIn) {}

  ByteSpan in_;
  ConstByteSpan out_;
  bool isIn_ = true;
};

}  // namespace omr72

#include "emulator/state_json.h"

#include <algorithm>
#include <cstdio>

namespace omr72::emu {
namespace {

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

const char* RouteName(Face face) {
  switch (face) {
    case Face::kUsb:
    case Face::kBoth:
      return "usb";
    case Face::kDisk:
      return "disk";
    case Face::kNone:
      break;
  }
  return "away";
}

}  // namespace

std::string JsonEscapeBytes(const uint8_t* bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = bytes[i];
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b < 0x20 || b >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", b);
      out += escaped;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

// The versions are those the recorder will report once back: a restart in progress has
// already settled them.
std::string RecorderStateJson(const Recorder& recorder) {
  const SerialRecord& serial = recorder.serialRecord();
  const size_t serialLength = std::find(serial.begin(), serial.end(), 0) - serial.begin();
  const std::optional<uint16_t> firmware = recorder.firmwareVersion();
  const ModelTag& tag = recorder.modelTag();
  std::string json = "{";
  json += "\"route\":" + Quoted(RouteName(recorder.face()));
  json += ",\"bootLoaderVersion\":" + Quoted(VersionText(recorder.bootLoaderVersion()));
  json += ",\"firmwareVersion\":" + (firmware ? Quoted(VersionText(*firmware)) : "null");
  json += ",\"serial\":" + Quoted(JsonEscapeBytes(serial.data(), serialLength));
  json += std::string(",\"firmwareImageWritten\":") +
          (recorder.FirmwareImageWritten() ? "true" : "false");
  json += ",\"restarts\":" + std::to_string(recorder.restarts());
  json += ",\"modelTag\":" + Quoted(JsonEscapeBytes(tag.data(), tag.size()));
  json +=
      std::string(",\"bootBlockAccepted\":") + (recorder.bootBlockAccepted() ? "true" : "false");
  json += "}";
  return json;
}

}  // namespace omr72::emu

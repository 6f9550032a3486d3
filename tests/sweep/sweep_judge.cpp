#include "tests/sweep/sweep_judge.h"

#include <array>
#include <utility>

namespace omr72::sweep {
namespace {

constexpr size_t kWriterCommands = 21 + 21 * 8;  // an erase and eight chunks per page
constexpr unsigned long kNandBlockBytes = 64 * 2112;
const std::string kBlockReadPiece = "bulk read pipe=2 ";

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool Failed(const std::string& command) {
  return EndsWith(command, "-> fail");
}

struct WriterShape {
  const char* name;
  const char* firstErase;  // the erase of page 0 opens the writer
  const char* erase;
  const char* chunk;
};

const std::array<WriterShape, 2> kWriters = {{
    {"usb", "req=0x22 value=0x0000", "req=0x22", "req=0x21"},
    {"disk", "cdb=C8090000", "cdb=C809", "cdb=C80B"},
}};

const WriterShape* WriterStartedBy(const std::string& command) {
  for (const WriterShape& w : kWriters) {
    if (Contains(command, w.firstErase)) return &w;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> DocumentedEnding(const std::string& output) {
  static const std::vector<std::pair<std::string, std::string>> kEndings = {
      {"Replacing firmware...OK\nPress any key to exit...\n", "firmware replaced"},
      {"Replacing firmware...Failed\nPress any key to exit...\n", "firmware write failed"},
      {"Replacing Boot Loader...Failed\nPress any key to exit.\n", "boot-loader write failed"},
      {"Boot Loader not found. Firmware loading is not possible.\nPress any key to exit.\n",
       "no boot loader"},
      {"Firmware version is not compatible with this recorder.\nReplacing firmware failed.\n"
       "Press any key to exit...\n",
       "model tag refused"},
      {"or other key to exit.\n", "declined at a prompt"},
      {"Press 'L' to confirm load or other key to exit.\n", "declined at a prompt"},
      {"Connect device to continue or press Esc to exit.\n", "no recorder, wait left"},
      {"Firmware Updater version 1.1\n\n", "recorder gone at the route choice"},
  };
  for (const auto& [tail, name] : kEndings) {
    if (EndsWith(output, tail)) return name;
  }
  return std::nullopt;
}

bool InRestartWaitStage(const std::string& output) {
  return EndsWith(output, "Replacing Boot Loader...") ||
         EndsWith(output, "Replacing Boot Loader...OK\n") ||
         EndsWith(output, "Replacing firmware...");
}

bool InConnectionWait(const std::string& output) {
  return EndsWith(output, "Connect device to continue or press Esc to exit.\n");
}

std::optional<unsigned char> UnprintableByte(const std::string& output) {
  for (unsigned char c : output) {
    if ((c < 0x20 || c > 0x7E) && c != '\n' && c != '\r') return c;
  }
  return std::nullopt;
}

std::optional<std::string> OkAfterFailedWriter(const std::vector<Event>& events) {
  const WriterShape* writer = nullptr;
  size_t sent = 0;
  bool failed = false;
  for (const Event& e : events) {
    if (e.kind == Event::Kind::kOutput) {
      if (writer && (failed || sent != kWriterCommands) && e.text == "OK\n") return writer->name;
      writer = nullptr;
      continue;
    }
    if (!writer) {
      writer = WriterStartedBy(e.text);
      sent = 0;
      failed = false;
      if (!writer) continue;
    }
    if (!Contains(e.text, writer->erase) && !Contains(e.text, writer->chunk)) continue;
    ++sent;
    failed = failed || Failed(e.text);
  }
  return std::nullopt;
}

bool FirstNandReadIncomplete(const std::vector<Event>& events) {
  size_t i = 0;
  while (i < events.size() &&
         (events[i].kind != Event::Kind::kCommand || !Contains(events[i].text, "req=0xE0"))) {
    ++i;
  }
  if (i == events.size()) return false;
  if (Failed(events[i].text)) return true;
  // The block may come in several bulk reads; together they must move all of it.
  unsigned long moved = 0;
  for (++i; i < events.size() && events[i].kind == Event::Kind::kCommand &&
            Contains(events[i].text, kBlockReadPiece);
       ++i) {
    if (Failed(events[i].text)) return true;
    const size_t at = events[i].text.find("moved=");
    if (at != std::string::npos) moved += std::stoul(events[i].text.substr(at + 6));
  }
  return moved != kNandBlockBytes;
}

}  // namespace omr72::sweep

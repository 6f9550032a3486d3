// Output files of the tools, written so that nothing they are given is destroyed: the bytes go
// to a new file beside the target, which is renamed over it only when complete. A failure
// leaves whatever was at the target untouched and says why (the system's reason), and a target
// that exists but is not a regular file (a device node, a folder) is never written or removed.
// Errors read "PATH: reason", one line without a line end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace omr72::tools {

// Whether `path` may be written: its folder exists, and it is absent or a regular file.
std::optional<std::string> CheckOutputPath(const std::string& path);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks `path` and creates the new file beside it.
  std::optional<std::string> Open(const std::string& path);
  std::optional<std::string> Write(std::string_view bytes);
  // Flushes and closes the new file and renames it over the target.
  std::optional<std::string> Commit();
  // Removes the new file, if any; the target stays as it was.
  void Abandon();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  std::optional<std::string> Failed(const std::string& path);

  std::string path_;    // as given, for messages
  std::string target_;  // the file replaced: path_, or the file a link at path_ points to
  std::string temporary_;
  std::FILE* file_ = nullptr;
};

// The whole of `bytes` as the new content of `path`.
std::optional<std::string> WriteWholeFile(const std::string& path, std::string_view bytes);

// A file kept current line by line while a run goes on, so that a run ended from outside
// leaves what it got to: the first line is written to a new file beside the target, which is
// then renamed into place; later lines are appended to it.
class GrowingFile {
 public:
  GrowingFile() = default;
  ~GrowingFile() {
    if (appending_ != nullptr) std::fclose(appending_);
  }
  GrowingFile(const GrowingFile&) = delete;
  GrowingFile& operator=(const GrowingFile&) = delete;

  std::optional<std::string> Open(const std::string& path);
  std::optional<std::string> AppendLine(std::string_view line);
  // Puts an empty file in place when no line was written.
  std::optional<std::string> Finish();
  bool IsOpen() const { return started_ || first_.IsOpen(); }

 private:
  std::string path_;
  OutputFile first_;
  std::FILE* appending_ = nullptr;
  bool started_ = false;
};

}  // namespace omr72::tools

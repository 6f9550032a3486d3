#include "tools/output/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace omr72::tools {
namespace {

namespace fs = std::filesystem;

std::string Reason(int error) {
  return std::strerror(error != 0 ? error : EIO);
}

}  // namespace

std::optional<std::string> CheckOutputPath(const std::string& path) {
  if (path.empty()) return std::string("an empty file name");
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (!error && fs::exists(status)) {
    // A link is followed: what it points to is what gets replaced.
    const fs::file_status target = fs::status(path, error);
    if (error) return path + ": " + error.message();
    if (!fs::is_regular_file(target)) {
      return path + ": not a regular file; it is left as it is";
    }
    return std::nullopt;
  }
  if (error && error != std::errc::no_such_file_or_directory) return path + ": " + error.message();
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (!fs::is_directory(folder, error)) {
    return path + ": " + (error ? error.message() : std::string("its folder does not exist"));
  }
  return std::nullopt;
}

std::optional<std::string> OutputFile::Failed(const std::string& path) {
  const std::string reason = Reason(errno);
  Abandon();
  return path + ": " + reason;
}

std::optional<std::string> OutputFile::Open(const std::string& path) {
  Abandon();
  if (auto problem = CheckOutputPath(path)) return problem;
  path_ = path;
  // A link is followed: the file it points to is replaced and the link stays a link.
  std::error_code error;
  target_ = path;
  if (fs::is_symlink(fs::symlink_status(path, error))) {
    const fs::path resolved = fs::canonical(path, error);
    if (error) return path + ": " + error.message();
    target_ = resolved.string();
  }
  // Beside the target, so that the rename stays within one file system; a name that is
  // taken is never reused.
  for (int attempt = 0;; ++attempt) {
    temporary_ = target_ + ".new" + (attempt == 0 ? "" : std::to_string(attempt));
    if (!fs::exists(fs::symlink_status(temporary_, error))) break;
    if (attempt == 99) return path + ": no free name beside it for the new file";
  }
  errno = 0;
  file_ = std::fopen(temporary_.c_str(), "wb");
  if (file_ == nullptr) {
    const std::string reason = Reason(errno);
    temporary_.clear();
    return path + ": " + reason;
  }
  return std::nullopt;
}

std::optional<std::string> OutputFile::Write(std::string_view bytes) {
  if (file_ == nullptr) return path_ + ": not open";
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) return Failed(path_);
  return std::nullopt;
}

std::optional<std::string> OutputFile::Commit() {
  if (file_ == nullptr) return path_ + ": not open";
  errno = 0;
  const bool flushed = std::fflush(file_) == 0;
  const int flushError = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!flushed || !closed) {
    errno = flushed ? errno : flushError;
    return Failed(path_);
  }
  // The target is checked again: it may have become something else meanwhile.
  if (auto problem = CheckOutputPath(path_)) {
    Abandon();
    return problem;
  }
  // A file that was there keeps its permissions; only its content is new.
  std::error_code error;
  const fs::file_status before = fs::status(target_, error);
  if (!error && fs::is_regular_file(before)) {
    fs::permissions(temporary_, before.permissions(), error);
  }
  error.clear();
  fs::rename(temporary_, target_, error);
  if (error) {
    Abandon();
    return path_ + ": " + error.message();
  }
  temporary_.clear();
  return std::nullopt;
}

void OutputFile::Abandon() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (temporary_.empty()) return;
  // Only the file this object created is ever removed.
  std::error_code error;
  fs::remove(temporary_, error);
  temporary_.clear();
}

std::optional<std::string> WriteWholeFile(const std::string& path, std::string_view bytes) {
  OutputFile file;
  if (auto problem = file.Open(path)) return problem;
  if (auto problem = file.Write(bytes)) return problem;
  return file.Commit();
}

std::optional<std::string> GrowingFile::Open(const std::string& path) {
  path_ = path;
  return first_.Open(path);
}

std::optional<std::string> GrowingFile::AppendLine(std::string_view line) {
  const std::string text = std::string(line) + "\n";
  if (!started_) {
    if (auto problem = first_.Write(text)) return problem;
    if (auto problem = first_.Commit()) return problem;
    started_ = true;
    errno = 0;
    appending_ = std::fopen(path_.c_str(), "ab");
    if (appending_ == nullptr) return path_ + ": " + Reason(errno);
    return std::nullopt;
  }
  if (appending_ == nullptr) return path_ + ": not open";
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), appending_) != text.size() ||
      std::fflush(appending_) != 0) {
    return path_ + ": " + Reason(errno);
  }
  return std::nullopt;
}

std::optional<std::string> GrowingFile::Finish() {
  if (!started_) return first_.IsOpen() ? first_.Commit() : std::nullopt;
  if (appending_ == nullptr) return std::nullopt;
  errno = 0;
  const bool closed = std::fclose(appending_) == 0;
  appending_ = nullptr;
  if (!closed) return path_ + ": " + Reason(errno);
  return std::nullopt;
}

}  // namespace omr72::tools

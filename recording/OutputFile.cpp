#include "recording/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

namespace recording {

namespace {

std::string Reason(int err) { return std::strerror(err); }

// Writes all bytes; errno tells why when it returns false.
bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::unique_ptr<FileSink> FileSink::Create(const std::string& path, std::string& reason) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    reason = Reason(errno);
    return nullptr;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  return std::unique_ptr<FileSink>(new FileSink(fd, path, regular));
}

FileSink::~FileSink() { Close(); }

bool FileSink::Write(std::string_view data) {
  if (!Ok() || fd_ < 0) return false;
  if (WriteAll(fd_, data)) {
    committed_ += static_cast<long long>(data.size());
    if (!Removed()) return true;
    error_ = kRemovedReason;
    return false;
  }
  error_ = Reason(errno);
  // A half-written line at the end would make the file unreadable.
  if (regular_ && ::ftruncate(fd_, static_cast<off_t>(committed_)) != 0)
    error_ += " (the last line may be incomplete)";
  return false;
}

bool FileSink::Close() {
  if (fd_ < 0) return Ok();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && Ok()) error_ = Reason(errno);
  return Ok();
}

bool FileSink::Check() {
  if (!Ok()) return false;
  if (!Removed()) return true;
  error_ = kRemovedReason;
  return false;
}

// No name left on the disk: the file was deleted, alone or with its folder.
bool FileSink::Removed() const {
  struct stat st {};
  return noticeRemoval_ && regular_ && fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_nlink == 0;
}

bool StreamSink::Write(std::string_view data) {
  if (!Ok()) return false;
  errno = 0;
  out_.write(data.data(), static_cast<std::streamsize>(data.size()));
  out_.flush();
  if (!out_) {
    error_ = errno != 0 ? Reason(errno) : std::string("write error");
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, std::string_view text, std::string& reason) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    reason = Reason(EISDIR);
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // Never rename over a device or a pipe: write into it.
    auto sink = FileSink::Create(path, reason);
    if (!sink) return false;
    const bool written = sink->Write(text);
    const bool closed = sink->Close();
    if (!written || !closed) {
      reason = sink->Error();
      return false;
    }
    return true;
  }
  const std::string tmp = path + ".tmp";
  {
    auto sink = FileSink::Create(tmp, reason);
    if (!sink) return false;
    const bool written = sink->Write(text);
    const bool closed = sink->Close();
    if (!written || !closed) {
      reason = sink->Error();
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    reason = Reason(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace recording

// Where a recording or the journal goes: a file (with the reason when the system refuses it)
// or a stream such as korvoctl's standard output.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace recording {

class Sink {
 public:
  virtual ~Sink() = default;
  // Writes all of data or fails; after a failure Error() names the reason and the sink takes
  // no more.
  virtual bool Write(std::string_view data) = 0;
  virtual bool Ok() const = 0;
  virtual const std::string& Error() const = 0;  // "No space left on device"
  virtual const std::string& Name() const = 0;   // the path, or "standard output"
  // Lets go of the file; false (with Error) when the system reports a late write failure.
  virtual bool Close() { return Ok(); }
  // For a flush with nothing to write: false (with Error) when the output can take no more.
  virtual bool Check() { return Ok(); }
};

// Why a file that was deleted (or whose folder was) under a writer takes no more.
inline constexpr std::string_view kRemovedReason = "the file was removed";

class FileSink final : public Sink {
 public:
  // Creates or empties path. nullptr, with reason set, when that fails.
  static std::unique_ptr<FileSink> Create(const std::string& path, std::string& reason);
  ~FileSink() override;

  // A failed write cuts a plain file back to the end of the last whole write, so what was
  // written before stays valid.
  bool Write(std::string_view data) override;
  bool Ok() const override { return error_.empty(); }
  const std::string& Error() const override { return error_; }
  const std::string& Name() const override { return path_; }
  bool Close() override;
  bool Check() override;
  // From now on a write or a Check that finds the file removed fails (kRemovedReason): what
  // follows would be lost unseen. Off by default, for writers that check on their own.
  void NoticeRemoval() { noticeRemoval_ = true; }

 private:
  FileSink(int fd, std::string path, bool regular)
      : fd_(fd), path_(std::move(path)), regular_(regular) {}
  bool Removed() const;

  int fd_;
  std::string path_;
  bool regular_;
  bool noticeRemoval_ = false;
  long long committed_ = 0;
  std::string error_;
};

class StreamSink final : public Sink {
 public:
  StreamSink(std::ostream& out, std::string name) : out_(out), name_(std::move(name)) {}
  bool Write(std::string_view data) override;  // flushes the stream
  bool Ok() const override { return error_.empty(); }
  const std::string& Error() const override { return error_; }
  const std::string& Name() const override { return name_; }

 private:
  std::ostream& out_;
  std::string name_;
  std::string error_;
};

// Writes text to path as a whole: through a temporary file and a rename for a plain file (so a
// failure leaves what was there), directly into anything else (a device such as /dev/full).
// false, with reason set, when that fails.
bool WriteWholeFile(const std::string& path, std::string_view text, std::string& reason);

}  // namespace recording

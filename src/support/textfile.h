#pragma once
// A buffered text file: reads lines ended by CR LF, LF or CR (a last line
// without an end is a line; a CR LF split across two buffer fills is one
// end), or writes/appends text. The settings store and the file utilities
// read and write text through it. Closing (also by destruction) writes what
// is still buffered.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/os.h"

class TextFile {
 public:
  enum class Mode { Closed, Reading, Writing };

  TextFile() = default;
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // OK when the file is open; else why not (the system's cause).
  Status OpenRead(const std::string& path);
  Status OpenAppend(const std::string& path);  // creates the file when missing
  Status OpenWrite(const std::string& path);   // creates or truncates
  // Reads the next line without its end; false at the end of the file or
  // on a read error (IoError() tells which).
  bool ReadLine(std::string& line);
  bool Eof();
  bool Write(std::string_view text);
  bool WriteLine(std::string_view text);  // text + CR LF
  bool Flush();                           // buffer to the file
  bool Sync();                            // buffer to the disk
  bool Close();                           // false when an error occurred
  Mode CurrentMode() const { return mode_; }
  bool IoError() const { return !failure_.ok(); }
  // The first read or write failure since opening, with the system's
  // cause; OK when there was none.
  const Status& Failure() const { return failure_; }
  // Size of the open file in bytes as the OS sees it; -1 when closed.
  std::int64_t Size();

  // Logical position: -1 when closed; else the OS position plus the buffered
  // bytes (writing) or minus the unread bytes (reading).
  std::int64_t Pos();
  // Moves a file open for reading; true when Pos() afterwards equals pos.
  bool Seek(std::int64_t pos);

 private:
  static constexpr std::size_t kBufferSize = 32768;
  Status Open(const std::string& path, os::OpenFor how, Mode mode);
  bool Fill();
  // Keeps the first failure; whether status is OK.
  bool Note(const Status& status);
  os::File file_;
  Mode mode_ = Mode::Closed;
  Status failure_;
  std::string buffer_;
  std::size_t bufPos_ = 0;
  std::size_t bufEnd_ = 0;
  std::int64_t osPos_ = 0;
};

std::int64_t TextFilePos(TextFile& f);
bool TextFileSeek(TextFile& f, std::int64_t pos);

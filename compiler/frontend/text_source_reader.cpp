#include "compiler/frontend/text_source_reader.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace fvx::compiler {

bool CTextSourceReader::Open(const std::string& path) {
  Close();
  file_ = platform::File::OpenForReading(path, /*allow_pipe=*/true);
  if (!file_.IsOpen()) {
    error_ = file_.LastError();
    return false;
  }
  struct stat st {};
  is_pipe_ = ::fstat(file_.Descriptor(), &st) == 0 && S_ISFIFO(st.st_mode);
  size_ = is_pipe_ ? 0 : file_.Size().value_or(0);
  // A file just opened stands at its start (Close reset the position); not
  // seeking lets a pipe be a source too (its size is then unknown, 0, and
  // only progress suffers).
  return true;
}

void CTextSourceReader::Close() {
  file_.Close();
  is_pipe_ = false;
  error_ = 0;
  size_ = 0;
  ResetPosition();
}

bool CTextSourceReader::Rewind() {
  if (!file_.IsOpen() || !file_.Seek(0)) return false;
  ResetPosition();
  return true;
}

void CTextSourceReader::ResetPosition() {
  block_offset_ = 0;
  index_ = length_ = 0;
  have_pushed_ = can_push_ = false;
  line_ = column_ = 1;
  last_was_cr_ = false;
}

bool CTextSourceReader::Fill() {
  block_offset_ += length_;
  index_ = 0;
  length_ = 0;
  if (!file_.IsOpen() || error_ != 0) return false;
  for (;;) {
    // A FIFO reads as ended until its first writer comes: wait for data or
    // for the writer to leave before every read.
    if (is_pipe_ && !WaitForData()) return false;
    int error = 0;
    auto got = ReadSome(block_.data(), block_.size(), &error);
    if (got) {
      length_ = *got;
      return length_ > 0;
    }
    // A failed read is not the end of the source: the compile must fail
    // rather than make a book of what came before it.
    if (!is_pipe_ || (error != EAGAIN && error != EWOULDBLOCK)) {
      error_ = error != 0 ? error : EIO;
      return false;
    }
  }
}

std::optional<size_t> CTextSourceReader::ReadSome(void* buffer, size_t count, int* error) {
  std::optional<size_t> got = file_.ReadSome(buffer, count);
  if (!got) *error = file_.LastError();
  return got;
}

bool CTextSourceReader::WaitForData() {
  constexpr int kSliceMs = 100;
  for (;;) {
    if (!KeepWaiting()) {
      error_ = ECANCELED;
      return false;
    }
    pollfd wanted{file_.Descriptor(), POLLIN, 0};
    const int ready = ::poll(&wanted, 1, kSliceMs);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) {
      error_ = errno;
      return false;
    }
  }
}

bool CTextSourceReader::AtEnd() {
  if (have_pushed_) return false;
  if (index_ < length_) return false;
  return !Fill();
}

bool CTextSourceReader::Read(unsigned char& c, bool& pushed_back) {
  if (have_pushed_) {
    have_pushed_ = false;
    c = pushed_;
    pushed_back = true;
  } else {
    if (index_ >= length_ && !Fill()) return false;
    c = block_[index_++];
    pushed_back = false;
  }
  can_push_ = true;
  Advance(c);
  return true;
}

size_t CTextSourceReader::ReadRun(const std::array<bool, 256>& stop, size_t max,
                                  std::string& out) {
  if (have_pushed_) return 0;
  // The position is kept in locals while a run is scanned.
  uint32_t line = line_;
  uint32_t column = column_;
  bool after_cr = last_was_cr_;
  size_t total = 0;
  while (total < max) {
    if (index_ >= length_ && !Fill()) break;
    const unsigned char* data = block_.data();
    const size_t start = index_;
    const size_t end = start + std::min(length_ - start, max - total);
    size_t i = start;
    for (; i < end; ++i) {
      const unsigned char c = data[i];
      if (stop[c]) break;
      StepPosition(c, line, column, after_cr);
    }
    out.append(reinterpret_cast<const char*>(data + start), i - start);
    total += i - start;
    index_ = i;
    if (i < end) break;  // at a stop character
  }
  line_ = line;
  column_ = column;
  last_was_cr_ = after_cr;
  can_push_ = false;
  return total;
}

void CTextSourceReader::PushBack() {
  if (!can_push_) return;
  can_push_ = false;
  have_pushed_ = true;
  pushed_ = last_;
  line_ = last_line_;
  column_ = last_column_;
  last_was_cr_ = last_cr_before_;
}

}  // namespace fvx::compiler

#include "compiler/frontend/text_source_reader.h"

#include <algorithm>

namespace fvx::compiler {

bool CTextSourceReader::Open(const std::string& path) {
  Close();
  file_ = platform::File::Open(path, platform::File::Mode::kRead);
  if (!file_.IsOpen()) return false;
  size_ = file_.Size().value_or(0);
  // A file just opened stands at its start (Close reset the position); not
  // seeking lets a pipe be a source too (its size is then unknown, 0, and
  // only progress suffers).
  return true;
}

void CTextSourceReader::Close() {
  file_.Close();
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
  if (!file_.IsOpen()) return false;
  auto got = file_.ReadSome(block_.data(), block_.size());
  if (!got || *got == 0) return false;
  length_ = *got;
  return true;
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

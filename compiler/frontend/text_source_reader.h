// Reader of ".txt" sources: the file's bytes, read in 32 KiB blocks, each
// byte one character. The source is a regular file or a pipe (a FIFO named
// on purpose); anything else is refused. A pipe is read without blocking,
// waiting in short slices so that the wait check can stop it.
//
// Lines: CR, LF and the pair CR LF each end one line (a CR LF pair counts
// once, so Windows-written sources get the same line numbers as any other);
// a TAB advances the column by 4, every other character by 1.
#pragma once

#include <array>
#include <optional>

#include "compiler/frontend/source_reader.h"
#include "platform/file.h"

namespace fvx::compiler {

class CTextSourceReader : public CSourceReader {
 public:
  static constexpr size_t kBlockSize = 32768;

  uint64_t Position() const override { return block_offset_ + index_; }
  uint64_t TotalSize() const override { return size_; }
  bool AtEnd() override;
  bool Read(unsigned char& c, bool& pushed_back) override;
  uint32_t Line() const override { return line_; }
  uint32_t Column() const override { return column_; }
  void PushBack() override;
  size_t ReadRun(const std::array<bool, 256>& stop, size_t max, std::string& out) override;
  bool Rewind() override;
  void Close() override;
  bool Open(const std::string& path) override;
  int LastError() const override { return error_; }

 protected:
  // One read of the source: up to count bytes, 0 at the end, nullopt with
  // *error set on failure. Tests put a failing disk here.
  virtual std::optional<size_t> ReadSome(void* buffer, size_t count, int* error);

 private:
  bool Fill();
  // Back to the first character: nothing buffered, nothing pushed back.
  void ResetPosition();
  // One step of the position over c: CR and LF each end a line, a CR LF
  // pair once; a tab is four columns.
  static void StepPosition(unsigned char c, uint32_t& line, uint32_t& column, bool& after_cr) {
    if (c > '\r') {
      ++column;
    } else if (c == '\n') {
      if (!after_cr) ++line;
      column = 1;
    } else if (c == '\r') {
      ++line;
      column = 1;
    } else if (c == '\t') {
      column += 4;
    } else {
      ++column;
    }
    after_cr = c == '\r';
  }
  // Moves the position over c and remembers what PushBack restores.
  void Advance(unsigned char c) {
    last_ = c;
    last_line_ = line_;
    last_column_ = column_;
    last_cr_before_ = last_was_cr_;
    StepPosition(c, line_, column_, last_was_cr_);
  }

  // Waits until a pipe has data or its writer is gone; false when the
  // wait check gave up or poll failed (error_ set).
  bool WaitForData();

  platform::File file_;
  bool is_pipe_ = false;
  int error_ = 0;
  uint64_t size_ = 0;
  std::array<unsigned char, kBlockSize> block_{};
  uint64_t block_offset_ = 0;  // file offset of block_[0]
  size_t index_ = 0;           // next byte in block_
  size_t length_ = 0;          // valid bytes in block_
  uint32_t line_ = 1;
  uint32_t column_ = 1;
  bool last_was_cr_ = false;
  // One character of push-back and the state it restores.
  bool have_pushed_ = false;
  unsigned char pushed_ = 0;
  bool can_push_ = false;
  unsigned char last_ = 0;
  uint32_t last_line_ = 1;
  uint32_t last_column_ = 1;
  bool last_cr_before_ = false;
};

}  // namespace fvx::compiler

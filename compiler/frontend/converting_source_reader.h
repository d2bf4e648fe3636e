// Reader of older-generation ".fv" books: each record becomes tagged source
// text, generated when the previous one is used up, so an old book goes
// through the same front end as a ".txt" source.
//
// The text generated for record i (from 0) is
//   "<meta> skipnewlines=yes </meta>\n"        -- record 0 only: old texts
//                                                 carry no meaningful line breaks
//   "<new>" heading "\n" converted-text "\n"
// where the heading and the text end at their first zero byte and the
// text's formatting codes (TAB and a code byte) become tags; see
// AppendConvertedText.
//
// Progress counts records: TotalSize() is the record count and Position()
// the number of records generated so far. Line() is the 1-based number of
// the record the next character belongs to, Column() that character's
// offset (from 0) in the record's generated text.
#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <string_view>

#include "bookformat/fv_book.h"
#include "compiler/frontend/source_reader.h"

namespace fvx::compiler {

inline constexpr std::string_view kFvPreamble = "<meta> skipnewlines=yes </meta>\n";

// Appends text with its formatting codes converted: TAB and code 1..24
// become the code's tag, other codes vanish, code 17 (a link) takes the
// bytes after it up to ">" (consumed) or TAB (left to start the next code)
// as its target. A TAB at the very end has no code and vanishes.
// REQUIRES: text holds no zero byte (the caller has cut it there).
void AppendConvertedText(std::string_view text, std::string& out);

// Appends the whole generated text of one record.
void AppendRecordSource(bool first, std::string_view heading, std::string_view text,
                        std::string& out);

class CConvertingSourceReader final : public CSourceReader {
 public:
  uint64_t Position() const override { return generated_; }
  uint64_t TotalSize() const override { return book_.RecordCount(); }
  bool AtEnd() override;
  bool Read(unsigned char& c, bool& pushed_back) override;
  uint32_t Line() const override;
  uint32_t Column() const override;
  void PushBack() override;
  size_t ReadRun(const std::array<bool, 256>& stop, size_t max, std::string& out) override;
  bool Rewind() override;
  void Close() override;
  bool Open(const std::string& path) override;
  // The same over bytes already at hand (tests, the fuzzer).
  [[nodiscard]] bool Open(std::unique_ptr<format::ByteSource> source);

  // True when a record could not be read after the book opened (the file
  // changed or the disk failed); the input then ends early.
  bool failed() const { return failed_; }
  // A record that cannot be read after the book opened ends the parse as a
  // failed read, not as the end of the book.
  int LastError() const override { return failed_ ? EIO : 0; }
  // Why the last Open (or a read after it) failed; kept after Close.
  const std::string& error() const { return book_.error(); }

 private:
  // Replaces the current text by the next record's; false after the last.
  bool Generate();
  bool HasNextRecord() const { return !failed_ && generated_ < book_.RecordCount(); }
  void ResetPosition();

  format::CFvwBook book_;
  uint32_t generated_ = 0;    // records generated so far
  std::string text_;          // generated text of record generated_ - 1
  size_t next_ = 0;           // next character in text_
  bool have_pushed_ = false;  // text_[next_] was read and given back
  bool can_push_ = false;
  bool failed_ = false;
};

}  // namespace fvx::compiler

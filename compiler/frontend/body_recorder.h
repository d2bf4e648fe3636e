// The current subject's stored text as the front end records it: source
// characters one byte each, with tags and entities replaced by elements.
//
// Recorded element layout (converted for the book by the back end):
//   element  := 0xFF length:u32le code:u8 payload
//   length   := number of bytes after the code
// A source character 0xFF is recorded as the empty element of code 0xFF
// (0xFF 00 00 00 00 0xFF), so that 0xFF always starts an element.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fvx::compiler {

// Builds one element apart from the recorder, for elements that are checked
// before they replace the tag's text, or inserted before text already read.
class ElementBuilder {
 public:
  explicit ElementBuilder(uint8_t code);
  void U32(uint32_t value);
  void Byte(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  // Characters of a payload text; NUL and 0xFF cannot appear inside element
  // texts (they delimit them), so both are left out.
  void Text(std::string_view text);
  void TextZ(std::string_view text) {
    Text(text);
    Byte(0);
  }
  // The element with its length filled in.
  const std::string& Finish();

 private:
  std::string bytes_;
};

class BodyRecorder {
 public:
  void Clear();
  const std::string& text() const { return text_; }
  size_t size() const { return text_.size(); }

  bool recording() const { return recording_; }
  void SetRecording(bool on) { recording_ = on; }
  void SetSkipNewLines(bool on) { skip_new_lines_ = on; }

  // Appends one source character by the recording rules: no white space at
  // the very start; with skip-new-lines a run of line breaks becomes one
  // space; 0xFF escaped; "<" and "&" note the tag-start position when
  // may_start_tag (not inside quoted values, where they are plain text).
  void Append(unsigned char c, bool may_start_tag);
  // Append of each character of a run that holds no "<" and no "&", in one
  // step where the rules allow (the common case of plain text). Afterwards
  // UndoLast has nothing to undo.
  void AppendRun(std::string_view run);
  // Takes back the last Append (one level), so that a character the lexer
  // pushes back is recorded once, when it is read for good.
  void UndoLast();

  size_t tag_start() const { return tag_start_; }
  void SetTagStart(size_t position) { tag_start_ = position; }
  // Drops everything from the tag-start position on.
  void CutToTagStart();

  // Elements: Begin, then payload pieces, then End patches the length.
  void BeginElement(uint8_t code);
  void AppendU32(uint32_t value);
  void AppendByte(uint8_t value) { text_.push_back(static_cast<char>(value)); }
  // Characters of a payload text; NUL and 0xFF cannot appear in element
  // payloads, so both are dropped.
  void AppendPayloadText(std::string_view text);
  void EndElement();
  // Inserts a whole element, already built, at position.
  void InsertAt(size_t position, std::string_view bytes);
  void AppendElement(std::string_view bytes) { InsertAt(text_.size(), bytes); }

 private:
  std::string text_;
  bool recording_ = false;
  bool skip_new_lines_ = false;
  bool in_line_break_run_ = false;
  size_t tag_start_ = 0;
  size_t element_start_ = 0;
  // State before the last Append, for UndoLast.
  bool can_undo_ = false;
  size_t undo_size_ = 0;
  bool undo_run_ = false;
  size_t undo_tag_start_ = 0;
};

}  // namespace fvx::compiler

#include "compiler/frontend/body_recorder.h"

#include "compiler/frontend/char_class.h"

namespace fvx::compiler {

ElementBuilder::ElementBuilder(uint8_t code) {
  bytes_.assign("\xFF\0\0\0\0", 5);
  bytes_.push_back(static_cast<char>(code));
}

void ElementBuilder::U32(uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void ElementBuilder::Text(std::string_view text) {
  for (char c : text) {
    if (c != '\0' && c != '\xFF') bytes_.push_back(c);
  }
}

const std::string& ElementBuilder::Finish() {
  uint32_t length = static_cast<uint32_t>(bytes_.size() - 6);
  for (int i = 0; i < 4; ++i) bytes_[1 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return bytes_;
}

void BodyRecorder::Clear() {
  text_.clear();
  in_line_break_run_ = false;
  tag_start_ = 0;
  can_undo_ = false;
}

void BodyRecorder::Append(unsigned char c, bool may_start_tag) {
  can_undo_ = true;
  undo_size_ = text_.size();
  undo_run_ = in_line_break_run_;
  undo_tag_start_ = tag_start_;
  if (skip_new_lines_ && (c == '\r' || c == '\n')) {
    if (in_line_break_run_) return;
    in_line_break_run_ = true;
    c = ' ';
  } else {
    in_line_break_run_ = false;
  }
  if (text_.empty() && IsSourceSpace(c)) return;
  if (c == 0xFF) {
    text_.append("\xFF\0\0\0\0\xFF", 6);
    return;
  }
  if (may_start_tag && (c == '<' || c == '&')) tag_start_ = text_.size();
  text_.push_back(static_cast<char>(c));
}

void BodyRecorder::AppendRun(std::string_view run) {
  if (run.empty()) return;
  bool plain = !skip_new_lines_ && !text_.empty() && run.find('\xFF') == std::string_view::npos;
  if (plain) {
    text_.append(run);
    in_line_break_run_ = false;
  } else {
    for (char c : run) Append(static_cast<unsigned char>(c), false);
  }
  can_undo_ = false;
}

void BodyRecorder::UndoLast() {
  if (!can_undo_) return;
  can_undo_ = false;
  if (undo_size_ < text_.size()) text_.resize(undo_size_);
  in_line_break_run_ = undo_run_;
  tag_start_ = undo_tag_start_;
}

void BodyRecorder::CutToTagStart() {
  if (tag_start_ < text_.size()) text_.resize(tag_start_);
  can_undo_ = false;
  in_line_break_run_ = false;
}

void BodyRecorder::BeginElement(uint8_t code) {
  can_undo_ = false;
  element_start_ = text_.size();
  text_.push_back('\xFF');
  AppendU32(0);
  text_.push_back(static_cast<char>(code));
}

void BodyRecorder::AppendU32(uint32_t value) {
  for (int i = 0; i < 4; ++i) text_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void BodyRecorder::AppendPayloadText(std::string_view text) {
  for (char c : text) {
    if (c != '\0' && c != '\xFF') text_.push_back(c);
  }
}

void BodyRecorder::EndElement() {
  uint32_t length = static_cast<uint32_t>(text_.size() - element_start_ - 6);
  for (int i = 0; i < 4; ++i) {
    text_[element_start_ + 1 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  }
  in_line_break_run_ = false;
}

void BodyRecorder::InsertAt(size_t position, std::string_view bytes) {
  if (position > text_.size()) position = text_.size();
  text_.insert(position, bytes);
  can_undo_ = false;
}

}  // namespace fvx::compiler

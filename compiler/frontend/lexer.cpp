#include "compiler/frontend/lexer.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "compiler/frontend/char_class.h"

namespace fvx::compiler {
namespace {

// Punctuation that tag words keep inside a word.
bool IsWordPunct(unsigned char c, bool minus_is_word) {
  return c == ':' || c == '+' || c == '#' || c == '%' || c == '.' || (c == '-' && minus_is_word);
}

bool IsWordChar(unsigned char c, bool minus_is_word) {
  if (IsSourceSpace(c)) return false;
  if (IsSourcePunct(c)) return IsWordPunct(c, minus_is_word);
  return true;
}

}  // namespace

bool ParseDecimalNumber(std::string_view text, double& value, bool& overflow) {
  overflow = false;
  size_t i = 0;
  while (i < text.size() && IsSourceSpace(static_cast<unsigned char>(text[i]))) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t exponent_digits = 0;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j, ++exponent_digits;
    if (exponent_digits == 0) return false;
    i = j;
  }
  if (i != text.size()) return false;
  std::string copy(text.substr(start));
  errno = 0;
  value = std::strtod(copy.c_str(), nullptr);
  if (errno == ERANGE && std::isinf(value)) {
    overflow = true;
    value = value < 0 ? -DBL_MAX : DBL_MAX;
  }
  return true;
}

void Lexer::Start(CSourceReader* reader, bool replace_leading_underscores) {
  reader_ = reader;
  replace_underscores_ = replace_leading_underscores;
  cancelled_ = false;
  since_pump_ = 0;
  last_recorded_ = false;
}

bool Lexer::ReadChar(unsigned char& c) {
  if (cancelled_ || reader_ == nullptr) return false;
  bool pushed_back = false;
  if (!reader_->Read(c, pushed_back)) {
    last_recorded_ = false;
    return false;
  }
  if (!pushed_back && ++since_pump_ >= kCharactersPerPump) {
    since_pump_ = 0;
    if (!context_.KeepGoing()) {
      cancelled_ = true;
      return false;
    }
  }
  last_recorded_ = recorder_.recording();
  if (last_recorded_) recorder_.Append(c, may_start_tag_);
  return true;
}

void Lexer::PushBack() {
  reader_->PushBack();
  if (last_recorded_) recorder_.UndoLast();
  last_recorded_ = false;
}

void Lexer::MarkStart(Token& token) {
  token.line = reader_->Line();
  token.column = reader_->Column();
}

void Lexer::SkipSpace() {
  unsigned char c;
  while (ReadChar(c)) {
    if (!IsSourceSpace(c)) {
      PushBack();
      return;
    }
  }
}

bool Lexer::AddToText(Token& token, unsigned char c) {
  if (token.text.size() >= kMaxTokenText) {
    context_.SetPosition(token.line, token.column);
    context_.Report(true, Level::kWarning, MessageId::kStringTooLong, "%s", {token.text});
    return false;
  }
  token.text.push_back(static_cast<char>(c));
  return true;
}

Token Lexer::Next(int state) {
  Token token;
  if (cancelled_ || reader_ == nullptr || reader_->AtEnd()) {
    // A lone "&" at the very end is an ampersand like any other.
    bool lone_ampersand = !cancelled_ && reader_ != nullptr && ModeOfState(state) == LexerMode::kEntity;
    token.code = lone_ampersand ? kTokenWord : kTokenEnd;
    if (reader_ != nullptr) MarkStart(token);
    return token;
  }
  LexerMode mode = ModeOfState(state);
  may_start_tag_ = !(mode == LexerMode::kQuoted || mode == LexerMode::kSingleQuoted ||
                     mode == LexerMode::kAttributeValue);
  switch (mode) {
    case LexerMode::kTagWords:
      // Right after "<" in a body, white space means the "<" was no tag.
      return ReadTagWord(std::move(token), /*minus_is_word=*/true, /*skip_space=*/state != 204);
    case LexerMode::kMinusAware:
      return ReadTagWord(std::move(token), false, true);
    case LexerMode::kNumber:
      return ReadNumber(std::move(token), true);
    case LexerMode::kUnsignedNumber:
      return ReadNumber(std::move(token), false);
    case LexerMode::kBody:
      return ReadBody(std::move(token));
    case LexerMode::kLinkText:
      return ReadLinkText(std::move(token));
    case LexerMode::kHeading:
      return ReadHeading(std::move(token));
    case LexerMode::kQuoted:
      return ReadQuoted(std::move(token), '"');
    case LexerMode::kSingleQuoted:
      return ReadQuoted(std::move(token), '\'');
    case LexerMode::kComment:
      return ReadComment(std::move(token));
    case LexerMode::kSkip:
      return ReadSkip(std::move(token));
    case LexerMode::kEntity:
      return ReadEntity(std::move(token));
    case LexerMode::kAttributeValue:
      return ReadAttributeValue(std::move(token));
  }
  return token;
}

Token Lexer::ReadTagWord(Token token, bool minus_is_word, bool skip_space) {
  if (skip_space) SkipSpace();
  MarkStart(token);
  unsigned char c;
  if (!ReadChar(c)) {
    token.code = cancelled_ ? kTokenBad : kTokenEnd;
    return token;
  }
  if (!IsWordChar(c, minus_is_word)) {
    token.code = c;
    token.text.assign(1, static_cast<char>(c));
    return token;
  }
  token.code = kTokenWord;
  token.text.assign(1, static_cast<char>(c));
  while (ReadChar(c)) {
    if (!IsWordChar(c, minus_is_word)) {
      PushBack();
      return token;
    }
    if (!AddToText(token, c)) {
      token.code = kTokenBad;
      return token;
    }
  }
  if (cancelled_) token.code = kTokenBad;
  return token;
}

Token Lexer::ReadNumber(Token token, bool minus_is_word) {
  token = ReadTagWord(std::move(token), minus_is_word, true);
  if (token.code != kTokenWord) return token;  // Quote, other punctuation, Bad, End
  bool overflow = false;
  if (!ParseDecimalNumber(token.text, token.number, overflow)) {
    context_.SetPosition(token.line, token.column);
    context_.ParseError(true, MessageId::kNumberExpected);
    token.code = kTokenBad;
    return token;
  }
  if (overflow) {
    context_.SetPosition(token.line, token.column);
    context_.ParseError(false, MessageId::kNumericalOverflow);
  }
  token.code = kTokenNumber;
  return token;
}

Token Lexer::ReadBody(Token token) {
  static constexpr std::array<bool, 256> kBodyStops = [] {
    std::array<bool, 256> stops{};
    stops['<'] = stops['&'] = true;
    return stops;
  }();
  recorder_.SetRecording(true);
  MarkStart(token);
  unsigned char c;
  for (;;) {
    // Most of a book is plain body text: take it a run at a time, stopping
    // one character short of the next pump so that ReadChar still pumps
    // exactly every kCharactersPerPump characters.
    if (since_pump_ + 1 < kCharactersPerPump) {
      run_.clear();
      size_t n = reader_->ReadRun(kBodyStops, kCharactersPerPump - 1 - since_pump_, run_);
      since_pump_ += static_cast<uint32_t>(n);
      recorder_.AppendRun(run_);
    }
    if (!ReadChar(c)) break;
    if (c == '<' || c == '&') {
      PushBack();
      token.code = kTokenBodyTextEnd;
      return token;
    }
  }
  token.code = cancelled_ ? kTokenBad : kTokenBodyTextRest;
  return token;
}

Token Lexer::ReadLinkText(Token token) {
  MarkStart(token);
  unsigned char c;
  if (!ReadChar(c)) {
    token.code = cancelled_ ? kTokenBad : kTokenEnd;
    return token;
  }
  if (c == '<') {
    token.code = '<';
    token.text = "<";
    return token;
  }
  token.code = kTokenLinkText;
  token.text.assign(1, static_cast<char>(c));
  while (ReadChar(c)) {
    if (c == '<') {
      PushBack();
      return token;
    }
    if (!AddToText(token, c)) {
      token.code = kTokenBad;
      return token;
    }
  }
  if (cancelled_) token.code = kTokenBad;
  return token;
}

Token Lexer::ReadHeading(Token token) {
  SkipSpace();
  MarkStart(token);
  token.code = kTokenHeadingText;
  std::string heading;
  size_t dropped = 0;
  unsigned char c = 0;
  unsigned char last = 0;
  while (ReadChar(c)) {
    if (c == '\n') break;
    last = c;
    if (heading.size() < kMaxHeading) {
      heading.push_back(static_cast<char>(c));
    } else {
      ++dropped;
    }
  }
  if (cancelled_) {
    token.code = kTokenBad;
    return token;
  }
  // A CR before the LF belongs to the line break, not to the heading.
  if (last == '\r') {
    if (dropped > 0) {
      --dropped;
    } else if (!heading.empty()) {
      heading.pop_back();
    }
  }
  if (dropped > 0) {
    context_.SetPosition(token.line, token.column);
    context_.Report(true, Level::kWarning, MessageId::kHeadingTooLong, "%s", {heading});
  }
  if (replace_underscores_) {
    for (char& ch : heading) {
      if (ch != '_') break;
      ch = ' ';
    }
  }
  token.text = std::move(heading);
  return token;
}

Token Lexer::ReadQuoted(Token token, unsigned char quote) {
  MarkStart(token);
  token.code = kTokenWord;
  std::string text;
  unsigned char c;
  bool backslash = false;
  bool too_long = false;
  while (ReadChar(c)) {
    if (c == quote && !backslash) {
      PushBack();
      break;
    }
    if (c == '\n') {
      context_.SetPosition(reader_->Line(), reader_->Column());
      context_.Report(true, Level::kError, MessageId::kNewLineInString);
      token.code = kTokenBad;
      return token;
    }
    if (backslash && c == quote) {
      text.back() = static_cast<char>(c);  // the backslash gives way to the quote
    } else if (text.size() >= kMaxTokenText) {
      too_long = true;
    } else {
      text.push_back(static_cast<char>(c));
    }
    backslash = c == '\\' && !(backslash && c == quote);
  }
  if (cancelled_) {
    token.code = kTokenBad;
    return token;
  }
  size_t first = 0;
  while (first < text.size() && IsSourceSpace(static_cast<unsigned char>(text[first]))) ++first;
  size_t last = text.size();
  while (last > first && IsSourceSpace(static_cast<unsigned char>(text[last - 1]))) --last;
  token.text = text.substr(first, last - first);
  if (too_long) {
    context_.SetPosition(token.line, token.column);
    context_.Report(true, Level::kWarning, MessageId::kStringTooLong, "%s", {token.text});
    token.code = kTokenBad;
  }
  return token;
}

Token Lexer::ReadComment(Token token) {
  MarkStart(token);
  unsigned char c;
  if (!ReadChar(c)) {
    token.code = cancelled_ ? kTokenBad : kTokenEnd;
    return token;
  }
  if (c == '-' || c == '<') {
    token.code = c;
    token.text.assign(1, static_cast<char>(c));
    return token;
  }
  token.code = kTokenWord;
  while (ReadChar(c)) {
    if (c == '-' || c == '<') {
      PushBack();
      return token;
    }
  }
  if (cancelled_) token.code = kTokenBad;
  return token;
}

Token Lexer::ReadSkip(Token token) {
  unsigned char c;
  while (ReadChar(c)) {
    if (c == '<') {
      token.line = reader_->Line();
      token.column = reader_->Column() - 1;
      token.code = '<';
      token.text = "<";
      return token;
    }
  }
  MarkStart(token);
  token.code = cancelled_ ? kTokenBad : kTokenEnd;
  return token;
}

Token Lexer::ReadEntity(Token token) {
  MarkStart(token);
  token.code = kTokenWord;
  unsigned char c;
  while (ReadChar(c)) {
    if (c == ';') return token;
    if (IsSourceSpace(c) || (IsSourcePunct(c) && c != '#')) {
      PushBack();
      return token;
    }
    if (!AddToText(token, c)) {
      token.code = kTokenBad;
      return token;
    }
  }
  if (cancelled_) token.code = kTokenBad;
  return token;
}

Token Lexer::ReadAttributeValue(Token token) {
  unsigned char c;
  while (ReadChar(c)) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
      PushBack();
      break;
    }
  }
  MarkStart(token);
  if (!ReadChar(c)) {
    token.code = cancelled_ ? kTokenBad : kTokenEnd;
    return token;
  }
  if (c == '"' || c == '\'') {
    token.code = c;
    token.text.assign(1, static_cast<char>(c));
    return token;
  }
  token.code = kTokenWord;
  do {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '<' || c == '>') {
      PushBack();
      return token;
    }
    if (!AddToText(token, c)) {
      token.code = kTokenBad;
      return token;
    }
  } while (ReadChar(c));
  if (cancelled_) token.code = kTokenBad;
  return token;
}

}  // namespace fvx::compiler

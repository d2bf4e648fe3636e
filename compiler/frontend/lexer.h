// The lexer: reads the next token in the mode of the current grammar state,
// records body characters while recording is on, and lets the user
// interface breathe every 5001 characters.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "compiler/base/compile_context.h"
#include "compiler/frontend/body_recorder.h"
#include "compiler/frontend/grammar.h"
#include "compiler/frontend/source_reader.h"

namespace fvx::compiler {

struct Token {
  int code = kTokenEnd;
  std::string text;
  double number = 0.0;
  uint32_t line = 0;    // position of the token's first character
  uint32_t column = 0;
};

class Lexer {
 public:
  static constexpr size_t kMaxTokenText = 1023;
  static constexpr size_t kMaxHeading = 256;
  static constexpr uint32_t kCharactersPerPump = 5001;

  Lexer(CompileContext& context, BodyRecorder& recorder)
      : context_(context), recorder_(recorder) {}

  // REQUIRES: reader open. Starts reading it from where it stands.
  void Start(CSourceReader* reader, bool replace_leading_underscores);
  // The next token for the given grammar state.
  Token Next(int state);
  // True once KeepGoing said no; every later token is End.
  bool cancelled() const { return cancelled_; }

 private:
  bool ReadChar(unsigned char& c);
  void PushBack();
  void MarkStart(Token& token);
  void SkipSpace();

  Token ReadTagWord(Token token, bool minus_is_word, bool skip_space);
  Token ReadNumber(Token token, bool minus_is_word);
  Token ReadBody(Token token);
  Token ReadLinkText(Token token);
  Token ReadHeading(Token token);
  Token ReadQuoted(Token token, unsigned char quote);
  Token ReadComment(Token token);
  Token ReadSkip(Token token);
  Token ReadEntity(Token token);
  Token ReadAttributeValue(Token token);
  // Appends c to the token text; false (with the warning) past the limit.
  bool AddToText(Token& token, unsigned char c);

  CompileContext& context_;
  BodyRecorder& recorder_;
  CSourceReader* reader_ = nullptr;
  bool replace_underscores_ = false;
  bool cancelled_ = false;
  uint32_t since_pump_ = 0;
  bool last_recorded_ = false;
  bool may_start_tag_ = true;  // "<" and "&" start tags in the current mode
  std::string run_;            // scratch for runs of body text
};

// Reads a whole text as a decimal number ("12", "-3.5", "1e3"); leading
// white space is allowed, nothing may follow. Hexadecimal, "inf" and "nan"
// are not numbers here. overflow is set when the value was out of range (it
// is then saturated).
bool ParseDecimalNumber(std::string_view text, double& value, bool& overflow);

}  // namespace fvx::compiler

// The reader for a source path, chosen by its extension as the compiler
// window and `fvx compile` both choose it: ".txt" is tagged source text,
// ".fv" an older-generation book; case does not matter.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "compiler/frontend/source_reader.h"

namespace fvx::compiler {

enum class SourceKind {
  kUnknown,  // the compiler refuses it with "Bad file format!"
  kText,     // ".txt"
  kFvBook,   // ".fv"
};

// The kind of source by the extension of the file name (after its last "."
// following the last "/" or "\").
SourceKind SourceKindOf(std::string_view path);

// A new, unopened reader for the path's kind; null for kUnknown.
std::unique_ptr<CSourceReader> MakeSourceReader(std::string_view path);

}  // namespace fvx::compiler

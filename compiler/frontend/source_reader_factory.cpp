#include "compiler/frontend/source_reader_factory.h"

#include "compiler/frontend/converting_source_reader.h"
#include "compiler/frontend/text_source_reader.h"
#include "platform/ascii.h"
#include "platform/paths.h"

namespace fvx::compiler {

SourceKind SourceKindOf(std::string_view path) {
  const size_t separator = platform::LastPathSeparator(path);
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) {
    return SourceKind::kUnknown;
  }
  const std::string_view extension = path.substr(dot);
  if (platform::EqualsIgnoringAsciiCase(extension, ".txt")) return SourceKind::kText;
  if (platform::EqualsIgnoringAsciiCase(extension, ".fv")) return SourceKind::kFvBook;
  return SourceKind::kUnknown;
}

std::unique_ptr<CSourceReader> MakeSourceReader(std::string_view path) {
  switch (SourceKindOf(path)) {
    case SourceKind::kText:
      return std::make_unique<CTextSourceReader>();
    case SourceKind::kFvBook:
      return std::make_unique<CConvertingSourceReader>();
    case SourceKind::kUnknown:
      break;
  }
  return nullptr;
}

}  // namespace fvx::compiler

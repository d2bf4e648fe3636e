#include "compiler/base/message_format.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "compiler/base/messages.h"

namespace fvx::compiler {
namespace {

// snprintf into a std::string of the size it needs.
template <typename T>
std::string Printf(const std::string& format, T value) {
  char small[128];
  int needed = std::snprintf(small, sizeof small, format.c_str(), value);
  if (needed < 0) return {};
  if (static_cast<size_t>(needed) < sizeof small) return std::string(small, needed);
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  std::snprintf(out.data(), out.size(), format.c_str(), value);
  out.resize(static_cast<size_t>(needed));
  return out;
}

int64_t AsSigned(const MessageArg::Value& v) {
  if (auto* p = std::get_if<int64_t>(&v)) return *p;
  if (auto* p = std::get_if<uint64_t>(&v)) return static_cast<int64_t>(*p);
  if (auto* p = std::get_if<double>(&v)) return static_cast<int64_t>(*p);
  return std::strtoll(std::get<std::string>(v).c_str(), nullptr, 10);
}

uint64_t AsUnsigned(const MessageArg::Value& v) {
  if (auto* p = std::get_if<int64_t>(&v)) return static_cast<uint64_t>(*p);
  if (auto* p = std::get_if<uint64_t>(&v)) return *p;
  if (auto* p = std::get_if<double>(&v)) return static_cast<uint64_t>(*p);
  return std::strtoull(std::get<std::string>(v).c_str(), nullptr, 10);
}

double AsDouble(const MessageArg::Value& v) {
  if (auto* p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  if (auto* p = std::get_if<uint64_t>(&v)) return static_cast<double>(*p);
  if (auto* p = std::get_if<double>(&v)) return *p;
  return std::strtod(std::get<std::string>(v).c_str(), nullptr);
}

std::string AsText(const MessageArg::Value& v) {
  if (auto* p = std::get_if<std::string>(&v)) return *p;
  if (auto* p = std::get_if<int64_t>(&v)) return std::to_string(*p);
  if (auto* p = std::get_if<uint64_t>(&v)) return std::to_string(*p);
  return Printf("%f", std::get<double>(v));
}

bool IsIn(char c, const char* set) {
  for (; *set; ++set) {
    if (*set == c) return true;
  }
  return false;
}

}  // namespace

std::string ConvertArgument(std::string_view conversion, const MessageArg& arg) {
  // The piece may carry literal text around its conversion ("%2.2f%%"): it
  // is printed as a whole, with the first conversion rebuilt for the
  // argument's real type. Later conversions are printed literally, since
  // they have no argument.
  std::string prefix;  // literal text before the conversion, printf-escaped
  std::string directive;  // "%" flags width precision, without length modifiers
  char kind = 0;
  size_t i = 0;
  while (i < conversion.size() && kind == 0) {
    char c = conversion[i];
    if (c != '%') {
      prefix += c;
      ++i;
      continue;
    }
    if (i + 1 < conversion.size() && conversion[i + 1] == '%') {
      prefix += "%%";
      i += 2;
      continue;
    }
    size_t j = i + 1;
    directive.clear();
    directive.push_back('%');
    while (j < conversion.size() && IsIn(conversion[j], "-+ #0")) directive += conversion[j++];
    while (j < conversion.size() && conversion[j] >= '0' && conversion[j] <= '9') directive += conversion[j++];
    if (j < conversion.size() && conversion[j] == '.') {
      directive += conversion[j++];
      while (j < conversion.size() && conversion[j] >= '0' && conversion[j] <= '9') directive += conversion[j++];
    }
    while (j < conversion.size() && IsIn(conversion[j], "hlLqjzt")) ++j;
    if (j < conversion.size() && IsIn(conversion[j], "diuoxXfFeEgGaAsc")) {
      kind = conversion[j];
      i = j + 1;
    } else {
      // Not a conversion we know: keep the text as written.
      prefix += "%%";
      ++i;
    }
  }
  std::string suffix;
  for (; i < conversion.size(); ++i) {
    char c = conversion[i];
    if (c == '%') {
      if (i + 1 < conversion.size() && conversion[i + 1] == '%') ++i;
      suffix += "%%";
    } else {
      suffix += c;
    }
  }
  const MessageArg::Value& v = arg.value();
  switch (kind) {
    case 'd':
    case 'i':
      return Printf(prefix + directive + "lld" + suffix, static_cast<long long>(AsSigned(v)));
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      return Printf(prefix + directive + "ll" + kind + suffix,
                    static_cast<unsigned long long>(AsUnsigned(v)));
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return Printf(prefix + directive + kind + suffix, AsDouble(v));
    case 'c':
      return Printf(prefix + directive + "c" + suffix, static_cast<int>(AsSigned(v) & 0xFF));
    case 's': {
      std::string text = AsText(v);
      return Printf(prefix + directive + "s" + suffix, text.c_str());
    }
    default:
      // No conversion at all: the piece is literal text.
      return Printf<const char*>(prefix + suffix + "%s", "");
  }
}

std::string FormatMessage(std::string_view text, std::string_view argument_format,
                          MessageArgs args) {
  std::vector<std::string> converted;
  converted.reserve(args.size());
  size_t start = 0;
  for (const MessageArg& arg : args) {
    size_t end = argument_format.find(':', start);
    std::string_view piece = start <= argument_format.size()
                                 ? argument_format.substr(start, end == std::string_view::npos
                                                                     ? std::string_view::npos
                                                                     : end - start)
                                 : std::string_view();
    // An argument beyond the format's conversions prints as text.
    converted.push_back(ConvertArgument(piece.empty() ? std::string_view("%s") : piece, arg));
    start = end == std::string_view::npos ? argument_format.size() + 1 : end + 1;
  }
  std::string out;
  out.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 1 < text.size()) {
      char next = text[i + 1];
      if (next >= '1' && next <= '9') {
        size_t n = static_cast<size_t>(next - '1');
        if (n < converted.size()) out += converted[n];
        ++i;
        continue;
      }
      if (next == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

const char* LevelPrefix(Level level) {
  switch (level) {
    case Level::kWarning:
      return "[ Warning ] ";
    case Level::kError:
      return "[  Error  ] ";
    case Level::kFatal:
      return "[  Fatal Error  ] ";
    case Level::kInformation:
      break;
  }
  return "";
}

const char* LevelColour(Level level) {
  switch (level) {
    case Level::kWarning:
      return "03,00";
    case Level::kError:
      return "13,00";
    case Level::kFatal:
      return "07,00";
    case Level::kInformation:
      break;
  }
  return "01,00";
}

std::string SizeText(uint64_t byte_count) {
  uint32_t v = static_cast<uint32_t>(byte_count);
  if (v < 1024) return Printf("%u Bytes", v);
  if (v < 1048576) return Printf("%.2f KB", v / 1024.0);
  return Printf("%.2f MB", v / 1048576.0);
}

std::optional<std::string> MessageSink::LoadMessage(uint32_t id) {
  const char* text = MessageText(id);
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}

}  // namespace fvx::compiler

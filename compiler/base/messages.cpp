#include "compiler/base/messages.h"

#include <array>
#include <cstddef>

namespace fvx::compiler {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(MessageId::kCount)> kTexts = {
    nullptr,  // kNone
#define FVX_MESSAGE(id, text) text,
#include "compiler/base/messages.def"
#undef FVX_MESSAGE
};

}  // namespace

const char* MessageText(uint32_t id) {
  return id < kTexts.size() ? kTexts[id] : nullptr;
}

const char* MessageText(MessageId id) { return MessageText(static_cast<uint32_t>(id)); }

}  // namespace fvx::compiler

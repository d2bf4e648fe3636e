// The compiler's string table: every text it reports, looked up by our own ids.
//
// The texts live in messages.def, one line each, so that they can be held
// against the written list; this header only turns that file into an enum
// and a lookup.
#pragma once

#include <cstdint>

namespace fvx::compiler {

enum class MessageId : uint32_t {
  kNone = 0,
#define FVX_MESSAGE(id, text) id,
#include "compiler/base/messages.def"
#undef FVX_MESSAGE
  kCount
};

// The text of an entry, or nullptr when the table has none (kNone, kCount, or
// any number outside the table).
const char* MessageText(MessageId id);
const char* MessageText(uint32_t id);

}  // namespace fvx::compiler

// Colour values of the source: "#RRGGBB" or "RRGGBB" in hexadecimal, a
// two-digit grey ("80" is 0x808080), or a colour name ("red", "cornsilk4").
#pragma once

#include <cstdint>
#include <string_view>

namespace fvx::compiler {

// 0x00RRGGBB, or false when the text is no colour.
bool ParseColour(std::string_view text, uint32_t& colour);
// The named colour, any case; false when the name is unknown.
bool FindColourName(std::string_view name, uint32_t& colour);

}  // namespace fvx::compiler

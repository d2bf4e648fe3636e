// How a category value is shown: text values as stored; numbers in fixed
// point with the category's decimals, long integer parts grouped by commas,
// between the category's pre- and post-modifier.
//
//   numeric := [prefix " "] digits ["." decimals] [" " suffix]
//   digits  := an integer part of more than 4 characters (sign included)
//              gets a comma before every group of three digits counted
//              from the point: 1234 stays, 12345 becomes 12,345
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fvx::reader {

// More decimals than a double can carry only lengthen the text; a damaged
// book asking for billions of them must not drive the formatting.
inline constexpr uint32_t kMaxPrecision = 30;

// The number alone: "%.<precision>f", then the integer part grouped.
std::string FormatNumber(double value, uint32_t precision);

std::string FormatNumericValue(double value, uint32_t precision, std::string_view prefix,
                               std::string_view suffix);

}  // namespace fvx::reader

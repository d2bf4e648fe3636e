// Builds MNG animations and JNG pictures from pictures already encoded as
// PNG and JPEG (the sample pictures and the plug-in's tests need them; no
// encoder of these formats is at hand otherwise).
//
// Both take the encoded input as bytes and return nullopt when it is not a
// well-formed PNG or baseline/progressive JPEG stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fvx::imaging {

// An animation showing each PNG in turn, frame_delay_ticks apart, repeating
// forever; a single PNG gives a still MNG. The frame is as large as the
// largest picture. REQUIRES: ticks_per_second > 0.
std::optional<std::string> BuildMng(const std::vector<std::string>& png_frames,
                                    uint32_t ticks_per_second, uint32_t frame_delay_ticks);

// A JNG holding the JPEG stream unchanged; its size, colour type and
// interlacing are taken from the JPEG's frame header.
std::optional<std::string> BuildJng(std::string_view jpeg);

}  // namespace fvx::imaging

// Byte layout written here (all integers big-endian):
//
//   mng       := 8A "MNG" 0D 0A 1A 0A  MHDR [TERM FRAM] picture+ MEND
//   jng       := 8B "JNG" 0D 0A 1A 0A  JHDR JDAT+ IEND
//   chunk     := length:u32 type:4 data:length crc:u32     crc of type + data
//   MHDR      := width:u32 height:u32 ticks_per_second:u32 layer_count:u32=0
//                frame_count:u32 play_time:u32 simplicity:u32=0
//   TERM      := action:u8=3 (repeat) after:u8=0 delay:u32=0 iteration_max:u32=7FFFFFFF
//   FRAM      := mode:u8=1 name:"" 00 change_delay:u8=2 change_timeout:u8=0
//                change_clipping:u8=0 change_sync:u8=0 delay:u32
//   picture   := IHDR [PLTE] [tRNS] IDAT+ IEND             the PNG's critical chunks
//   JHDR      := width:u32 height:u32 colour_type:u8 (8 grey, 10 colour)
//                sample_depth:u8 compression:u8=8 interlace:u8 (0, 8 progressive)
//                alpha_depth:u8=0 alpha_compression:u8=0 alpha_filter:u8=0
//                alpha_interlace:u8=0
//   JDAT      := the JPEG stream, in pieces of at most kJdatPiece bytes
//
// TERM and FRAM are written only for animations (more than one picture).
#include "imaging/mng_writer.h"

#include <zlib.h>

#include <algorithm>

namespace fvx::imaging {
namespace {

constexpr std::string_view kPngSignature{"\x89PNG\r\n\x1a\n", 8};
constexpr std::string_view kMngSignature{"\x8aMNG\r\n\x1a\n", 8};
constexpr std::string_view kJngSignature{"\x8bJNG\r\n\x1a\n", 8};
constexpr size_t kJdatPiece = 65536;
// Chunks of an embedded PNG that a picture needs; the rest (text, physical
// size, gamma) would only add bytes.
constexpr std::string_view kKeptPngChunks[] = {"IHDR", "PLTE", "tRNS", "IDAT", "IEND"};

uint32_t ReadU32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

void PutU32(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value >> 24));
  out->push_back(static_cast<char>(value >> 16));
  out->push_back(static_cast<char>(value >> 8));
  out->push_back(static_cast<char>(value));
}

void PutChunk(std::string* out, std::string_view type, std::string_view data) {
  PutU32(out, static_cast<uint32_t>(data.size()));
  const size_t type_at = out->size();
  out->append(type);
  out->append(data);
  const auto* crc_from = reinterpret_cast<const Bytef*>(out->data() + type_at);
  PutU32(out, static_cast<uint32_t>(crc32(0, crc_from, static_cast<uInt>(4 + data.size()))));
}

struct PngChunk {
  std::string_view type;
  std::string_view data;
};

// The chunks of a PNG file up to IEND; nullopt when a length runs past the
// end, IHDR is not first or IEND is missing.
std::optional<std::vector<PngChunk>> SplitPng(std::string_view png) {
  if (png.substr(0, kPngSignature.size()) != kPngSignature) return std::nullopt;
  std::vector<PngChunk> chunks;
  size_t at = kPngSignature.size();
  while (true) {
    if (png.size() - at < 12) return std::nullopt;
    const uint32_t length = ReadU32(png, at);
    if (length > png.size() - at - 12) return std::nullopt;
    chunks.push_back({png.substr(at + 4, 4), png.substr(at + 8, length)});
    at += 12 + size_t{length};
    if (chunks.back().type == "IEND") break;
  }
  if (chunks.front().type != "IHDR" || chunks.front().data.size() != 13) return std::nullopt;
  return chunks;
}

struct JpegFrame {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t precision = 0;
  uint8_t components = 0;
  bool progressive = false;
};

// Walks the marker segments from SOI to the first frame header.
std::optional<JpegFrame> ReadJpegFrame(std::string_view jpeg) {
  if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF ||
      static_cast<unsigned char>(jpeg[1]) != 0xD8) {
    return std::nullopt;
  }
  size_t at = 2;
  while (jpeg.size() - at >= 4) {
    if (static_cast<unsigned char>(jpeg[at]) != 0xFF) return std::nullopt;
    const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const size_t length = size_t{static_cast<unsigned char>(jpeg[at + 2])} << 8 |
                          static_cast<unsigned char>(jpeg[at + 3]);
    if (length < 2 || length > jpeg.size() - at - 2) return std::nullopt;
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
      if (length < 8) return std::nullopt;
      JpegFrame frame;
      frame.precision = static_cast<uint8_t>(jpeg[at + 4]);
      frame.height = size_t{static_cast<unsigned char>(jpeg[at + 5])} << 8 |
                     static_cast<unsigned char>(jpeg[at + 6]);
      frame.width = size_t{static_cast<unsigned char>(jpeg[at + 7])} << 8 |
                    static_cast<unsigned char>(jpeg[at + 8]);
      frame.components = static_cast<uint8_t>(jpeg[at + 9]);
      frame.progressive = marker == 0xC2;
      return frame;
    }
    if (marker == 0xDA || marker == 0xD9) return std::nullopt;  // data before any frame header
    at += 2 + length;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> BuildMng(const std::vector<std::string>& png_frames,
                                    uint32_t ticks_per_second, uint32_t frame_delay_ticks) {
  if (png_frames.empty() || ticks_per_second == 0) return std::nullopt;
  std::vector<std::vector<PngChunk>> pictures;
  uint32_t width = 0;
  uint32_t height = 0;
  for (const std::string& png : png_frames) {
    std::optional<std::vector<PngChunk>> chunks = SplitPng(png);
    if (!chunks) return std::nullopt;
    width = std::max(width, ReadU32(chunks->front().data, 0));
    height = std::max(height, ReadU32(chunks->front().data, 4));
    pictures.push_back(std::move(*chunks));
  }
  const bool animated = pictures.size() > 1;
  const auto frame_count = static_cast<uint32_t>(pictures.size());

  std::string out(kMngSignature);
  std::string data;
  for (uint32_t value : {width, height, ticks_per_second, 0u, frame_count,
                         animated ? frame_count * frame_delay_ticks : 0u, 0u}) {
    PutU32(&data, value);
  }
  PutChunk(&out, "MHDR", data);
  if (animated) {
    data.assign({3, 0});
    PutU32(&data, 0);
    PutU32(&data, 0x7FFFFFFF);
    PutChunk(&out, "TERM", data);
    data.assign({1, 0, 2, 0, 0, 0});
    PutU32(&data, frame_delay_ticks);
    PutChunk(&out, "FRAM", data);
  }
  for (const std::vector<PngChunk>& chunks : pictures) {
    for (const PngChunk& chunk : chunks) {
      if (std::find(std::begin(kKeptPngChunks), std::end(kKeptPngChunks), chunk.type) !=
          std::end(kKeptPngChunks)) {
        PutChunk(&out, chunk.type, chunk.data);
      }
    }
  }
  PutChunk(&out, "MEND", {});
  return out;
}

std::optional<std::string> BuildJng(std::string_view jpeg) {
  const std::optional<JpegFrame> frame = ReadJpegFrame(jpeg);
  if (!frame || frame->width == 0 || frame->height == 0) return std::nullopt;
  if (frame->components != 1 && frame->components != 3) return std::nullopt;
  if (frame->precision != 8 && frame->precision != 12) return std::nullopt;

  std::string out(kJngSignature);
  std::string data;
  PutU32(&data, frame->width);
  PutU32(&data, frame->height);
  data.push_back(static_cast<char>(frame->components == 1 ? 8 : 10));
  data.push_back(static_cast<char>(frame->precision));
  data.push_back(8);
  data.push_back(static_cast<char>(frame->progressive ? 8 : 0));
  data.append(4, '\0');
  PutChunk(&out, "JHDR", data);
  for (size_t at = 0; at < jpeg.size(); at += kJdatPiece) {
    PutChunk(&out, "JDAT", jpeg.substr(at, kJdatPiece));
  }
  PutChunk(&out, "IEND", {});
  return out;
}

}  // namespace fvx::imaging

#include "bookformat/coding.h"

namespace fvx::format {

void PutU8(std::string* out, uint8_t value) { out->push_back(static_cast<char>(value)); }

void PutU16(std::string* out, uint16_t value) {
  uint8_t bytes[2];
  StoreU16(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void PutU32(std::string* out, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void PutOff(std::string* out, uint64_t value, OffsetWidth width) {
  uint8_t bytes[8];
  StoreOff(bytes, value, width);
  out->append(reinterpret_cast<const char*>(bytes), OffsetBytes(width));
}

void PutDouble(std::string* out, double value) {
  uint8_t bytes[8];
  StoreDouble(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void PutString(std::string* out, std::string_view text) {
  PutU32(out, static_cast<uint32_t>(text.size()));
  out->append(text);
}

}  // namespace fvx::format

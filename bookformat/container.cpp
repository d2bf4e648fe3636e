#include "bookformat/container.h"

#include <cerrno>
#include <ctime>
#include <vector>

#include "bookformat/coding.h"
#include "platform/paths.h"

namespace fvx::format {

std::string DatabaseName(std::string_view output_path) {
  const size_t separator = platform::LastPathSeparator(output_path);
  std::string_view base =
      separator == std::string_view::npos ? output_path : output_path.substr(separator + 1);
  if (size_t dot = base.rfind('.'); dot != std::string_view::npos) base = base.substr(0, dot);
  if (base.empty()) return kUnnamedDatabase;
  return std::string(base.substr(0, kDatabaseNameSize - 1));
}

uint32_t PalmTime(int64_t unix_time) {
  return static_cast<uint32_t>(static_cast<uint64_t>(unix_time) + kPalmTimeOffset);
}

std::optional<std::string> EncodeContainerHeader(std::string_view database_name,
                                                 uint32_t palm_time, uint64_t stream_length,
                                                 uint32_t record_size) {
  if (record_size == 0) return std::nullopt;
  const uint64_t records = (stream_length + record_size - 1) / record_size;  // N
  if (records + 1 > kMaxRecordCount) return std::nullopt;
  const uint64_t start = 78 + 8 * (records + 1);  // D
  if (start + stream_length > UINT32_MAX) return std::nullopt;

  std::string out;
  out.reserve(static_cast<size_t>(start));
  std::string name(database_name.substr(0, kDatabaseNameSize - 1));
  name.resize(kDatabaseNameSize, '\0');
  out += name;
  PutU16(&out, 0);  // attributes
  PutU16(&out, 1);  // version
  for (int i = 0; i < 3; ++i) PutU32(&out, palm_time);
  PutU32(&out, 0);  // modification number
  PutU32(&out, 0);  // app info
  PutU32(&out, 0);  // sort info
  out += "FVXD";
  out += "FVXC";
  PutU32(&out, 0);  // unique id seed
  PutU32(&out, 0);  // next record list
  PutU16(&out, static_cast<uint16_t>(records + 1));
  for (uint64_t i = 0; i < records; ++i) {
    PutU32(&out, static_cast<uint32_t>(start + i * record_size));
    PutU32(&out, 0);
  }
  PutU32(&out, static_cast<uint32_t>(start + stream_length));
  PutU32(&out, 0);
  return out;
}

namespace {

WrapResult Failure(WrapStatus status, int error, std::string message) {
  return {status, error, std::move(message)};
}

}  // namespace

WrapResult WrapContainer(const platform::File& stream, platform::File& output,
                         const WrapOptions& options) {
  const std::optional<uint64_t> size = stream.Size();
  if (!size) return Failure(WrapStatus::kReadFailed, stream.LastError(), "cannot size the stream");
  const uint64_t length = *size;
  const int64_t now = options.unix_time ? *options.unix_time : static_cast<int64_t>(std::time(nullptr));
  const std::optional<std::string> header = EncodeContainerHeader(
      DatabaseName(options.output_path), PalmTime(now), length, options.record_size);
  if (!header) {
    return Failure(WrapStatus::kTooLarge, EFBIG,
                   "the book stream of " + std::to_string(length) +
                       " bytes needs more records than a container can hold (" +
                       std::to_string(kMaxRecordCount - 1) + " of " +
                       std::to_string(options.record_size) + " bytes)");
  }
  if (!output.WriteAt(0, header->data(), header->size())) {
    return Failure(WrapStatus::kWriteFailed, output.LastError(), "cannot write the container");
  }
  const uint64_t start = header->size();
  std::vector<uint8_t> piece(options.record_size);
  for (uint64_t copied = 0; copied < length;) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - copied));
    if (!stream.ReadAt(copied, piece.data(), count)) {
      return Failure(WrapStatus::kReadFailed, stream.LastError(), "cannot read the book stream");
    }
    if (!output.WriteAt(start + copied, piece.data(), count)) {
      return Failure(WrapStatus::kWriteFailed, output.LastError(), "cannot write the container");
    }
    copied += count;
    if (options.progress && !options.progress(copied, length)) {
      return Failure(WrapStatus::kCancelled, ECANCELED, "cancelled");
    }
  }
  const uint8_t zeros[kTrailingRecordSize] = {};
  const uint64_t end = start + length + sizeof zeros;
  if (!output.WriteAt(start + length, zeros, sizeof zeros) || !output.Truncate(end)) {
    return Failure(WrapStatus::kWriteFailed, output.LastError(), "cannot write the container");
  }
  return {};
}

WrapResult WrapContainer(const platform::File& stream, const WrapOptions& options) {
  // Refuse an oversized stream before an existing file is emptied.
  if (std::optional<uint64_t> size = stream.Size();
      size && !EncodeContainerHeader("", 0, *size, options.record_size)) {
    platform::File none;
    return WrapContainer(stream, none, options);
  }
  platform::File output =
      platform::File::Open(options.output_path, platform::File::Mode::kCreateTruncate);
  if (!output.IsOpen()) {
    return Failure(WrapStatus::kCannotCreate, output.LastError(), "cannot create the output file");
  }
  return WrapContainer(stream, output, options);
}

}  // namespace fvx::format

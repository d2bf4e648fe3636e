#include "plugins/mngjng/mng_handler.h"

#include <libmng.h>
#include <zlib.h>

#include <QIODevice>
#include <QImageReader>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace fvx::mngjng {
namespace {

constexpr char kMngSignature[] = "\x8aMNG\r\n\x1a\n";
constexpr char kJngSignature[] = "\x8bJNG\r\n\x1a\n";
constexpr qint64 kSignatureSize = 8;
constexpr mng_uint32 kMaxSide = 65535;
// Chunk lengths are 31-bit; larger values are corrupt.
constexpr quint32 kMaxChunkLength = 0x7FFFFFFF;
constexpr qint64 kReadPiece = 1 << 20;
constexpr int kDotsPerMetre72 = 2835;
// libmng waits on a timer between frames; the stream it gets ends after the
// first picture, so a few waits are all it can ask for.
constexpr int kMaxTimerWaits = 100;

// Chunks that only repeat what came before. The first frame never needs
// them, and with them a few bytes can keep libmng replaying for ever.
constexpr std::string_view kRepeatChunks[] = {"TERM", "LOOP", "ENDL"};

// What libmng's callbacks work on, reached through the handle's user data.
struct DecodeState {
  QByteArray stream;
  qsizetype read_at = 0;
  QImage canvas;
  QByteArray spare_line;
  mng_uint32 clock_ms = 0;
  bool refreshed = false;
};

DecodeState& StateOf(mng_handle handle) {
  return *static_cast<DecodeState*>(mng_get_userdata(handle));
}

// libmng's allocations in the decode running on this thread (its allocator
// callbacks carry no handle, hence a thread-local). The budget stops a header
// that claims billions of pixels, in an embedded picture or through
// magnification, before it costs anything; libmng checks for null. What
// libmng forgets to free when it gives up half-way is freed after cleanup.
class Allocations {
 public:
  Allocations() {
    const qint64 limit_mb = QImageReader::allocationLimit();
    // Room for the canvas, a decoded copy of the picture and libmng's rows.
    room_ = limit_mb > 0 ? static_cast<size_t>(limit_mb) * 2 * 1024 * 1024 + (64 << 20)
                         : SIZE_MAX;
    current_ = this;
  }
  ~Allocations() {
    for (const auto& [pointer, size] : live_) std::free(pointer);
    current_ = nullptr;
  }
  Allocations(const Allocations&) = delete;
  Allocations& operator=(const Allocations&) = delete;

  // libmng expects zeroed memory from its allocator.
  static mng_ptr MNG_DECL Allocate(mng_size_t size) {
    Allocations* self = current_;
    if (self == nullptr || size > self->room_) return MNG_NULL;
    mng_ptr pointer = std::calloc(1, size);
    if (pointer == MNG_NULL) return MNG_NULL;
    self->live_.emplace(pointer, size);
    self->room_ -= size;
    return pointer;
  }
  static void MNG_DECL Release(mng_ptr pointer, mng_size_t) {
    Allocations* self = current_;
    if (self == nullptr || pointer == MNG_NULL) return;
    const auto found = self->live_.find(pointer);
    if (found == self->live_.end()) return;
    self->room_ += found->second;
    self->live_.erase(found);
    std::free(pointer);
  }

 private:
  static thread_local Allocations* current_;
  size_t room_ = 0;
  std::unordered_map<void*, size_t> live_;
};

thread_local Allocations* Allocations::current_ = nullptr;

mng_bool MNG_DECL OpenStream(mng_handle) { return MNG_TRUE; }
mng_bool MNG_DECL CloseStream(mng_handle) { return MNG_TRUE; }

mng_bool MNG_DECL ReadData(mng_handle handle, mng_ptr buffer, mng_uint32 size,
                           mng_uint32p read) {
  DecodeState& state = StateOf(handle);
  const qsizetype count = std::min<qsizetype>(size, state.stream.size() - state.read_at);
  std::memcpy(buffer, state.stream.constData() + state.read_at, static_cast<size_t>(count));
  state.read_at += count;
  *read = static_cast<mng_uint32>(count);
  return MNG_TRUE;
}

mng_bool MNG_DECL ProcessHeader(mng_handle handle, mng_uint32 width, mng_uint32 height) {
  DecodeState& state = StateOf(handle);
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return MNG_FALSE;
  const qint64 limit = qint64{QImageReader::allocationLimit()} * 1024 * 1024;
  if (limit > 0 && qint64{width} * height * 4 > limit) return MNG_FALSE;
  state.canvas = QImage(static_cast<int>(width), static_cast<int>(height),
                        QImage::Format_RGBA8888);
  if (state.canvas.isNull()) return MNG_FALSE;
  state.canvas.fill(Qt::transparent);
  return MNG_TRUE;
}

mng_ptr MNG_DECL CanvasLine(mng_handle handle, mng_uint32 line) {
  // libmng writes through the pointer without a check; a line outside the
  // canvas (which it should never ask for) goes to a line nobody reads.
  DecodeState& state = StateOf(handle);
  if (state.canvas.isNull() || line >= static_cast<mng_uint32>(state.canvas.height())) {
    if (state.spare_line.isEmpty()) state.spare_line.fill('\0', qsizetype{kMaxSide} * 4);
    return state.spare_line.data();
  }
  return state.canvas.scanLine(static_cast<int>(line));
}

mng_bool MNG_DECL Refresh(mng_handle handle, mng_uint32, mng_uint32, mng_uint32, mng_uint32) {
  StateOf(handle).refreshed = true;
  return MNG_TRUE;
}

// Time runs only when libmng asks to wait, so an animation's delays cost
// nothing and the result does not depend on the machine's speed.
mng_uint32 MNG_DECL TickCount(mng_handle handle) { return StateOf(handle).clock_ms; }
mng_bool MNG_DECL SetTimer(mng_handle handle, mng_uint32 ms) {
  StateOf(handle).clock_ms += ms;
  return MNG_TRUE;
}

struct HandleCloser {
  void operator()(mng_handle handle) const {
    if (handle != MNG_NULL) mng_cleanup(&handle);
  }
};
using Handle = std::unique_ptr<std::remove_pointer_t<mng_handle>, HandleCloser>;

bool AllOpaque(const QImage& rgba) {
  for (int y = 0; y < rgba.height(); ++y) {
    const uchar* line = rgba.constScanLine(y);
    for (int x = 0; x < rgba.width(); ++x) {
      if (line[4 * x + 3] != 0xFF) return false;
    }
  }
  return true;
}

// Appends exactly count bytes from the device; a short file is a failure.
// Reads in pieces so that a corrupt length cannot allocate more than exists.
bool ReadExactly(QIODevice* device, qint64 count, QByteArray* out) {
  while (count > 0) {
    const QByteArray piece = device->read(std::min(count, kReadPiece));
    if (piece.isEmpty()) return false;
    out->append(piece);
    count -= piece.size();
  }
  return true;
}

quint32 BigEndian32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return quint32{b[0]} << 24 | quint32{b[1]} << 16 | quint32{b[2]} << 8 | b[3];
}

// The stream libmng gets: the file's chunks up to the end of its first
// picture (the IEND after IHDR or JHDR), without the repeat chunks, and an
// MEND for an MNG. Work is thereby bounded by the first picture's bytes.
// CRCs are left for libmng to check.
bool FirstPictureStream(QIODevice* device, bool is_mng, QByteArray* stream) {
  if (!ReadExactly(device, kSignatureSize, stream)) return false;
  bool in_picture = false;
  while (true) {
    QByteArray header;
    if (!ReadExactly(device, 8, &header)) return false;
    const quint32 length = BigEndian32(header.constData());
    if (length > kMaxChunkLength) return false;
    const std::string_view type(header.constData() + 4, 4);
    const bool dropped = std::find(std::begin(kRepeatChunks), std::end(kRepeatChunks), type) !=
                         std::end(kRepeatChunks);
    QByteArray body;
    if (!ReadExactly(device, qint64{length} + 4, &body)) return false;
    if (!dropped) {
      stream->append(header);
      stream->append(body);
    }
    if (type == "IHDR" || type == "JHDR") in_picture = true;
    if (type == "MEND") return is_mng;
    if (type == "IEND" && (in_picture || !is_mng)) break;
  }
  if (is_mng) {
    static constexpr char kMend[] = "\0\0\0\0MEND";
    stream->append(kMend, 8);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(kMend + 4), 4);
    for (int shift = 24; shift >= 0; shift -= 8) {
      stream->append(static_cast<char>((crc >> shift) & 0xFF));
    }
  }
  return true;
}

}  // namespace

QByteArray DetectFormat(QIODevice* device) {
  if (device == nullptr) return {};
  const QByteArray head = device->peek(kSignatureSize);
  if (head.size() != kSignatureSize) return {};
  if (std::memcmp(head.constData(), kMngSignature, kSignatureSize) == 0) return "mng";
  if (std::memcmp(head.constData(), kJngSignature, kSignatureSize) == 0) return "jng";
  return {};
}

bool DecodeFirstFrame(QIODevice* device, QImage* image) {
  // libmng reads PNG too; this plug-in answers only for what it claims.
  const QByteArray format = DetectFormat(device);
  if (image == nullptr || format.isEmpty()) return false;
  DecodeState state;
  if (!FirstPictureStream(device, format == "mng", &state.stream)) return false;

  const Allocations allocations;  // outlives the handle
  Handle handle(
      mng_initialize(&state, Allocations::Allocate, Allocations::Release, MNG_NULL));
  if (!handle) return false;
  mng_handle h = handle.get();
  const bool set_up = mng_setcb_openstream(h, OpenStream) == MNG_NOERROR &&
                      mng_setcb_closestream(h, CloseStream) == MNG_NOERROR &&
                      mng_setcb_readdata(h, ReadData) == MNG_NOERROR &&
                      mng_setcb_processheader(h, ProcessHeader) == MNG_NOERROR &&
                      mng_setcb_getcanvasline(h, CanvasLine) == MNG_NOERROR &&
                      mng_setcb_refresh(h, Refresh) == MNG_NOERROR &&
                      mng_setcb_gettickcount(h, TickCount) == MNG_NOERROR &&
                      mng_setcb_settimer(h, SetTimer) == MNG_NOERROR &&
                      mng_set_canvasstyle(h, MNG_CANVAS_RGBA8) == MNG_NOERROR &&
                      mng_set_maxcanvassize(h, kMaxSide, kMaxSide) == MNG_NOERROR &&
                      mng_set_doprogressive(h, MNG_FALSE) == MNG_NOERROR;
  if (!set_up) return false;

  mng_retcode code = mng_readdisplay(h);
  for (int waits = 0; code == MNG_NEEDTIMERWAIT && !state.refreshed && waits < kMaxTimerWaits;
       ++waits) {
    code = mng_display_resume(h);
  }
  if (code != MNG_NOERROR && code != MNG_NEEDTIMERWAIT) return false;
  if (state.canvas.isNull() || !state.refreshed) return false;

  *image = state.canvas.convertToFormat(AllOpaque(state.canvas) ? QImage::Format_RGB32
                                                                : QImage::Format_ARGB32);
  // The files carry no resolution that libmng passes on; 72 dpi is the
  // usual assumption for screen pictures.
  image->setDotsPerMeterX(kDotsPerMetre72);
  image->setDotsPerMeterY(kDotsPerMetre72);
  return !image->isNull();
}

bool MngHandler::canRead() const { return !DetectFormat(device()).isEmpty(); }

bool MngHandler::read(QImage* image) { return DecodeFirstFrame(device(), image); }

}  // namespace fvx::mngjng

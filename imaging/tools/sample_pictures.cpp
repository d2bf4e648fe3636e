#include "imaging/tools/sample_pictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <numbers>
#include <optional>

#include "imaging/mng_writer.h"

namespace fvx::imaging::samples {
namespace {

constexpr int kDotsPerMetre = 2835;  // 72 dpi
constexpr int kJpegQuality = 88;
constexpr double kPi = std::numbers::pi;

// xorshift32: the same numbers on every machine, unlike the distributions
// of <random>.
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed == 0 ? 0x9E3779B9u : seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  // Uniform in [low, high).
  double Between(double low, double high) {
    return low + (high - low) * (Next() >> 8) / double(1u << 24);
  }

 private:
  uint32_t state_;
};

QImage Canvas(int width, int height, QColor fill) {
  QImage image(width, height, QImage::Format_RGB32);
  image.setDotsPerMeterX(kDotsPerMetre);
  image.setDotsPerMeterY(kDotsPerMetre);
  image.fill(fill);
  return image;
}

void Stars(QPainter& painter, QRectF area, int count, uint32_t seed) {
  Noise noise(seed);
  painter.setPen(Qt::NoPen);
  for (int i = 0; i < count; ++i) {
    const QPointF at(noise.Between(area.left(), area.right()),
                     noise.Between(area.top(), area.bottom()));
    const double size = noise.Between(0.4, 1.6);
    const int light = static_cast<int>(noise.Between(140, 255));
    const int tint = static_cast<int>(noise.Between(-30, 30));
    painter.setBrush(QColor(std::clamp(light + tint, 0, 255), light,
                            std::clamp(light - tint, 0, 255)));
    painter.drawEllipse(at, size, size);
  }
}

// A closed blob around a centre: a circle whose radius wobbles with a few
// sine waves, for continents, clouds and dark plains.
QPainterPath Blob(QPointF centre, double radius, Noise& noise, double roughness = 0.35) {
  const double phase1 = noise.Between(0, 2 * kPi);
  const double phase2 = noise.Between(0, 2 * kPi);
  const double phase3 = noise.Between(0, 2 * kPi);
  QPainterPath path;
  constexpr int kSteps = 48;
  for (int i = 0; i <= kSteps; ++i) {
    const double angle = 2 * kPi * i / kSteps;
    const double r = radius * (1 + roughness * (0.5 * std::sin(3 * angle + phase1) +
                                                0.3 * std::sin(5 * angle + phase2) +
                                                0.2 * std::sin(9 * angle + phase3)));
    const QPointF point(centre.x() + r * std::cos(angle), centre.y() + r * std::sin(angle));
    if (i == 0) {
      path.moveTo(point);
    } else {
      path.lineTo(point);
    }
  }
  path.closeSubpath();
  return path;
}

// Lit from the upper left: a disc in its base colour, the surface drawn by
// the callback inside it, then the shadow of the night side on top.
void Planet(QPainter& painter, QPointF centre, double radius, QColor base,
            const std::function<void(QPainter&)>& surface, QColor glow = QColor()) {
  painter.save();
  if (glow.isValid()) {
    QRadialGradient halo(centre, radius * 1.18);
    QColor inner = glow;
    inner.setAlpha(110);
    QColor outer = glow;
    outer.setAlpha(0);
    halo.setColorAt(radius / (radius * 1.18), inner);
    halo.setColorAt(1, outer);
    painter.setPen(Qt::NoPen);
    painter.setBrush(halo);
    painter.drawEllipse(centre, radius * 1.18, radius * 1.18);
  }
  QPainterPath disc;
  disc.addEllipse(centre, radius, radius);
  painter.setClipPath(disc);
  painter.setPen(Qt::NoPen);
  painter.setBrush(base);
  painter.drawEllipse(centre, radius, radius);
  if (surface) surface(painter);
  QRadialGradient shade(centre + QPointF(-0.45 * radius, -0.45 * radius), radius * 1.75);
  shade.setColorAt(0, QColor(255, 255, 255, 60));
  shade.setColorAt(0.35, QColor(0, 0, 0, 0));
  shade.setColorAt(0.75, QColor(0, 0, 0, 150));
  shade.setColorAt(1, QColor(0, 0, 0, 235));
  painter.setBrush(shade);
  painter.drawEllipse(centre, radius, radius);
  painter.restore();
}

// Horizontal bands with wavy edges, as on the gas giants.
void Bands(QPainter& painter, QPointF centre, double radius, const std::vector<QColor>& colours,
           uint32_t seed, double waviness) {
  Noise noise(seed);
  const int count = static_cast<int>(colours.size());
  const double band = 2 * radius / count;
  for (int i = 0; i < count; ++i) {
    const double top = centre.y() - radius + i * band;
    const double phase = noise.Between(0, 2 * kPi);
    QPainterPath path;
    path.moveTo(centre.x() - radius, top + band * 1.2);
    for (int step = 0; step <= 40; ++step) {
      const double x = centre.x() - radius + 2 * radius * step / 40;
      path.lineTo(x, top + waviness * band * std::sin(x / radius * 7 + phase));
    }
    path.lineTo(centre.x() + radius, top + band * 1.2);
    path.closeSubpath();
    painter.setBrush(colours[static_cast<size_t>(i)]);
    painter.drawPath(path);
  }
}

void Craters(QPainter& painter, QPointF centre, double radius, int count, uint32_t seed,
             QColor floor) {
  Noise noise(seed);
  for (int i = 0; i < count; ++i) {
    const double r = radius * noise.Between(0.03, 0.14);
    const double angle = noise.Between(0, 2 * kPi);
    const double distance = radius * std::sqrt(noise.Between(0, 1));
    const QPointF at(centre.x() + distance * std::cos(angle),
                     centre.y() + distance * std::sin(angle));
    painter.setBrush(QColor(255, 255, 255, 40));
    painter.drawEllipse(at + QPointF(r * 0.12, r * 0.12), r, r);
    painter.setBrush(floor);
    painter.drawEllipse(at, r * 0.9, r * 0.9);
  }
}

// Rings around a planet: the far half is drawn before the planet, the near
// half after it.
void Rings(QPainter& painter, QPointF centre, double inner, double outer, double tilt_degrees,
           double flatness, QColor colour, bool near_half) {
  painter.save();
  painter.translate(centre);
  painter.rotate(tilt_degrees);
  painter.scale(1, flatness);
  painter.setClipRect(near_half ? QRectF(-outer * 2, 0, outer * 4, outer * 2)
                                : QRectF(-outer * 2, -outer * 2, outer * 4, outer * 2));
  painter.setPen(Qt::NoPen);
  constexpr int kRinglets = 7;
  for (int i = 0; i < kRinglets; ++i) {
    const double r0 = inner + (outer - inner) * i / kRinglets;
    const double r1 = inner + (outer - inner) * (i + 0.8) / kRinglets;
    QPainterPath ring;
    ring.addEllipse(QPointF(0, 0), r1, r1);
    ring.addEllipse(QPointF(0, 0), r0, r0);
    QColor shade = colour;
    shade.setAlpha(i == 4 ? 40 : 150 + 12 * (i % 3));
    painter.setBrush(shade);
    painter.drawPath(ring);
  }
  painter.restore();
}

QImage Space(int width, int height, uint32_t seed) {
  QImage image = Canvas(width, height, QColor(6, 8, 20));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  Stars(painter, image.rect(), width * height / 900, seed);
  return image;
}

QImage Sun() {
  QImage image = Space(480, 360, 11);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 180);
  QRadialGradient corona(centre, 170);
  corona.setColorAt(0.55, QColor(255, 200, 80, 200));
  corona.setColorAt(0.7, QColor(255, 140, 40, 90));
  corona.setColorAt(1, QColor(255, 100, 20, 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(corona);
  painter.drawEllipse(centre, 170, 170);
  QRadialGradient body(centre, 100);
  body.setColorAt(0, QColor(255, 250, 210));
  body.setColorAt(0.7, QColor(255, 210, 70));
  body.setColorAt(1, QColor(240, 120, 20));
  painter.setBrush(body);
  painter.drawEllipse(centre, 100, 100);
  Noise noise(12);
  QPainterPath disc;
  disc.addEllipse(centre, 100, 100);
  painter.setClipPath(disc);
  for (int i = 0; i < 900; ++i) {
    const QPointF at(noise.Between(140, 340), noise.Between(80, 280));
    painter.setBrush(QColor(255, 170, 40, static_cast<int>(noise.Between(20, 70))));
    painter.drawEllipse(at, 2.5, 2.5);
  }
  painter.setBrush(QColor(90, 40, 10, 200));
  painter.drawEllipse(QPointF(205, 160), 7, 5);
  painter.drawEllipse(QPointF(218, 166), 4, 3);
  painter.drawEllipse(QPointF(280, 205), 5, 4);
  return image;
}

QImage Mercury() {
  QImage image = Space(480, 360, 21);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 180);
  Planet(painter, centre, 120, QColor(150, 138, 126), [&](QPainter& p) {
    Craters(p, centre, 120, 70, 22, QColor(110, 102, 95));
  });
  return image;
}

QImage Venus() {
  QImage image = Space(480, 360, 31);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 180);
  Planet(
      painter, centre, 135, QColor(226, 196, 140),
      [&](QPainter& p) {
        Noise noise(32);
        for (int i = 0; i < 14; ++i) {
          QPainterPath swirl;
          const double y = centre.y() - 135 + i * 20 + noise.Between(-6, 6);
          swirl.moveTo(centre.x() - 140, y);
          for (int step = 1; step <= 30; ++step) {
            const double x = centre.x() - 140 + 280.0 * step / 30;
            swirl.lineTo(x, y + 10 * std::sin(x / 40 + i));
          }
          p.setPen(QPen(QColor(255, 240, 200, 70), noise.Between(4, 10)));
          p.setBrush(Qt::NoBrush);
          p.drawPath(swirl);
        }
        p.setPen(Qt::NoPen);
      },
      QColor(255, 230, 170));
  return image;
}

QImage Earth() {
  QImage image = Space(480, 360, 41);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 180);
  Planet(
      painter, centre, 135, QColor(28, 82, 170),
      [&](QPainter& p) {
        Noise noise(42);
        p.setBrush(QColor(60, 130, 60));
        for (int i = 0; i < 5; ++i) {
          p.drawPath(Blob(QPointF(noise.Between(130, 350), noise.Between(90, 270)),
                          noise.Between(25, 55), noise));
        }
        p.setBrush(QColor(175, 150, 95));
        p.drawPath(Blob(QPointF(300, 200), 22, noise));
        p.setBrush(QColor(245, 248, 255));
        p.drawEllipse(QPointF(240, 45), 110, 28);
        p.drawEllipse(QPointF(240, 318), 110, 26);
        p.setBrush(QColor(255, 255, 255, 120));
        for (int i = 0; i < 12; ++i) {
          p.drawPath(Blob(QPointF(noise.Between(110, 370), noise.Between(70, 290)),
                          noise.Between(8, 26), noise, 0.6));
        }
      },
      QColor(120, 180, 255));
  return image;
}

QImage Moon() {
  QImage image = Space(400, 400, 51);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(200, 200);
  Planet(painter, centre, 150, QColor(190, 190, 185), [&](QPainter& p) {
    Noise noise(52);
    p.setBrush(QColor(120, 120, 122));
    for (int i = 0; i < 6; ++i) {
      p.drawPath(Blob(QPointF(noise.Between(110, 290), noise.Between(110, 290)),
                      noise.Between(20, 45), noise));
    }
    Craters(p, centre, 150, 90, 53, QColor(150, 150, 148));
  });
  return image;
}

QImage Mars() {
  QImage image = Space(480, 360, 61);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 180);
  Planet(
      painter, centre, 125, QColor(190, 85, 45),
      [&](QPainter& p) {
        Noise noise(62);
        p.setBrush(QColor(120, 50, 30, 170));
        for (int i = 0; i < 7; ++i) {
          p.drawPath(Blob(QPointF(noise.Between(140, 340), noise.Between(100, 260)),
                          noise.Between(15, 40), noise, 0.5));
        }
        Craters(p, centre, 125, 25, 63, QColor(160, 70, 40));
        p.setBrush(QColor(250, 245, 240));
        p.drawPath(Blob(QPointF(240, 62), 34, noise, 0.2));
      },
      QColor(255, 160, 120));
  return image;
}

QImage Jupiter() {
  QImage image = Space(640, 480, 71);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(320, 240);
  const double radius = 200;
  Planet(painter, centre, radius, QColor(210, 180, 140), [&](QPainter& p) {
    Bands(p, centre, radius,
          {QColor(200, 175, 145), QColor(165, 120, 85), QColor(225, 205, 175),
           QColor(185, 135, 95), QColor(235, 220, 195), QColor(170, 115, 80),
           QColor(215, 190, 155), QColor(150, 105, 75), QColor(225, 200, 165),
           QColor(190, 155, 120), QColor(205, 180, 150)},
          72, 0.12);
    p.setBrush(QColor(190, 85, 55));
    p.drawEllipse(QPointF(380, 300), 38, 20);
    p.setBrush(QColor(215, 125, 90));
    p.drawEllipse(QPointF(380, 300), 26, 12);
  });
  return image;
}

QImage Saturn() {
  QImage image = Space(640, 400, 81);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(320, 200);
  const QColor ring(215, 195, 150);
  Rings(painter, centre, 150, 270, -12, 0.28, ring, false);
  Planet(painter, centre, 120, QColor(220, 195, 140), [&](QPainter& p) {
    Bands(p, centre, 120,
          {QColor(215, 190, 140), QColor(200, 170, 120), QColor(230, 210, 165),
           QColor(205, 180, 130), QColor(225, 200, 150), QColor(195, 165, 115)},
          82, 0.05);
  });
  Rings(painter, centre, 150, 270, -12, 0.28, ring, true);
  return image;
}

QImage Uranus() {
  QImage image = Space(480, 400, 91);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 200);
  const QColor ring(170, 200, 210);
  Rings(painter, centre, 150, 175, 82, 0.2, ring, false);
  Planet(painter, centre, 115, QColor(150, 215, 225), {}, QColor(180, 240, 250));
  Rings(painter, centre, 150, 175, 82, 0.2, ring, true);
  return image;
}

QImage Neptune() {
  QImage image = Space(480, 360, 101);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(240, 180);
  Planet(
      painter, centre, 130, QColor(45, 80, 200),
      [&](QPainter& p) {
        Bands(p, centre, 130,
              {QColor(50, 85, 205), QColor(40, 70, 185), QColor(55, 95, 215),
               QColor(45, 75, 195), QColor(50, 90, 210)},
              102, 0.08);
        p.setBrush(QColor(20, 35, 110));
        p.drawEllipse(QPointF(205, 170), 30, 16);
        p.setBrush(QColor(235, 240, 255, 200));
        p.drawEllipse(QPointF(215, 196), 22, 4);
        p.drawEllipse(QPointF(290, 120), 30, 3);
      },
      QColor(110, 150, 255));
  return image;
}

QImage Pluto() {
  QImage image = Space(200, 150, 111);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(100, 75);
  Planet(painter, centre, 58, QColor(185, 150, 120), [&](QPainter& p) {
    p.setBrush(QColor(240, 225, 205));
    QPainterPath heart;
    heart.addEllipse(QPointF(98, 82), 17, 15);
    heart.addEllipse(QPointF(118, 88), 14, 13);
    heart.moveTo(84, 88);
    heart.lineTo(132, 92);
    heart.lineTo(110, 118);
    heart.closeSubpath();
    heart.setFillRule(Qt::WindingFill);
    p.drawPath(heart);
    p.setBrush(QColor(110, 60, 40, 160));
    p.drawEllipse(QPointF(60, 90), 22, 14);
  });
  return image;
}

// A diagram larger than a book page, so that the size limits have work.
QImage Orbits() {
  QImage image = Canvas(1600, 1200, QColor(4, 6, 16));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  Stars(painter, image.rect(), 900, 121);
  const QPointF sun(800, 600);
  QRadialGradient glow(sun, 60);
  glow.setColorAt(0, QColor(255, 245, 200));
  glow.setColorAt(0.5, QColor(255, 200, 60));
  glow.setColorAt(1, QColor(255, 120, 20, 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(glow);
  painter.drawEllipse(sun, 60, 60);
  struct Orbit {
    double radius;
    double angle;
    double size;
    QColor colour;
  };
  const Orbit orbits[] = {
      {80, 0.4, 4, QColor(160, 150, 140)},   {120, 2.1, 6, QColor(230, 200, 150)},
      {165, 3.8, 6.5, QColor(70, 120, 220)}, {215, 5.2, 5, QColor(210, 100, 60)},
      {330, 1.2, 16, QColor(215, 180, 140)}, {420, 4.4, 14, QColor(225, 200, 145)},
      {495, 0.1, 10, QColor(160, 220, 230)}, {560, 2.8, 10, QColor(60, 100, 220)},
  };
  painter.setBrush(Qt::NoBrush);
  for (const Orbit& orbit : orbits) {
    painter.setPen(QPen(QColor(120, 140, 190, 140), 1.5));
    painter.drawEllipse(sun, orbit.radius, orbit.radius);
  }
  Noise noise(122);
  painter.setPen(Qt::NoPen);
  for (int i = 0; i < 1400; ++i) {
    const double angle = noise.Between(0, 2 * kPi);
    const double r = noise.Between(250, 290);
    painter.setBrush(QColor(170, 160, 150, static_cast<int>(noise.Between(90, 220))));
    painter.drawEllipse(sun + QPointF(r * std::cos(angle), r * std::sin(angle)), 1.1, 1.1);
  }
  for (const Orbit& orbit : orbits) {
    const QPointF at = sun + QPointF(orbit.radius * std::cos(orbit.angle),
                                     orbit.radius * std::sin(orbit.angle));
    Planet(painter, at, orbit.size, orbit.colour, {});
  }
  return image;
}

QImage Cover() {
  QImage image = Space(800, 600, 131);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QRadialGradient dawn(QPointF(800, 0), 520);
  dawn.setColorAt(0, QColor(255, 230, 160, 230));
  dawn.setColorAt(0.25, QColor(255, 160, 60, 110));
  dawn.setColorAt(1, QColor(255, 120, 40, 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(dawn);
  painter.drawRect(image.rect());
  const QPointF centre(330, 350);
  const QColor ring(225, 205, 160);
  Rings(painter, centre, 240, 400, -18, 0.3, ring, false);
  Planet(painter, centre, 190, QColor(215, 185, 135), [&](QPainter& p) {
    Bands(p, centre, 190,
          {QColor(220, 190, 140), QColor(195, 160, 110), QColor(235, 215, 170),
           QColor(205, 175, 125), QColor(225, 200, 150), QColor(190, 155, 105),
           QColor(215, 185, 135)},
          132, 0.06);
  });
  Rings(painter, centre, 240, 400, -18, 0.3, ring, true);
  Planet(painter, QPointF(650, 470), 36, QColor(185, 185, 180), [&](QPainter& p) {
    Craters(p, QPointF(650, 470), 36, 14, 133, QColor(150, 150, 148));
  });
  return image;
}

// A light tile that repeats without seams behind the text: stars that leave
// one edge come back at the other.
QImage BackgroundTile() {
  QImage image = Canvas(128, 128, QColor(244, 246, 252));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  Noise noise(141);
  painter.setPen(Qt::NoPen);
  for (int i = 0; i < 40; ++i) {
    const QPointF at(noise.Between(0, 128), noise.Between(0, 128));
    const double size = noise.Between(0.5, 1.8);
    painter.setBrush(QColor(190, 200, 228, static_cast<int>(noise.Between(90, 200))));
    for (int dx : {-128, 0, 128}) {
      for (int dy : {-128, 0, 128}) painter.drawEllipse(at + QPointF(dx, dy), size, size);
    }
  }
  return image;
}

// A comet crossing the sky; the book uses the first frame.
std::vector<QImage> CometFrames() {
  std::vector<QImage> frames;
  constexpr int kFrames = 6;
  for (int frame = 0; frame < kFrames; ++frame) {
    QImage image = Space(320, 240, 151);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF head(70 + 36.0 * frame, 80 + 14.0 * frame);
    const QPointF away(-1, -0.55);  // the tail points away from a sun at lower right
    const QPointF tip = head + away * 120;
    QLinearGradient tail(head, tip);
    tail.setColorAt(0, QColor(200, 230, 255, 220));
    tail.setColorAt(1, QColor(120, 170, 255, 0));
    QPainterPath path;
    const QPointF side(0.45 * 10, -0.8 * 10);
    path.moveTo(head + side);
    path.quadTo(tip + side * 2.5, tip + side * 3.2);
    path.lineTo(tip - side * 1.5);
    path.quadTo(tip - side, head - side);
    path.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(tail);
    painter.drawPath(path);
    QRadialGradient coma(head, 9);
    coma.setColorAt(0, QColor(255, 255, 255));
    coma.setColorAt(1, QColor(170, 210, 255, 0));
    painter.setBrush(coma);
    painter.drawEllipse(head, 9, 9);
    frames.push_back(image);
  }
  return frames;
}

std::optional<std::string> Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly)) return std::nullopt;
  QImageWriter writer(&buffer, format);
  if (QByteArray(format) == "jpeg") writer.setQuality(kJpegQuality);
  if (!writer.write(image)) return std::nullopt;
  return bytes.toStdString();
}

}  // namespace

std::vector<SamplePicture> MakeSamplePictures() {
  struct Still {
    const char* file_name;
    const char* format;
    QImage (*draw)();
  };
  const Still stills[] = {
      {"cover.jpg", "jpeg", Cover},       {"background.png", "png", BackgroundTile},
      {"sun.jpg", "jpeg", Sun},           {"mercury.png", "png", Mercury},
      {"venus.jpg", "jpeg", Venus},       {"earth.png", "png", Earth},
      {"moon.png", "png", Moon},          {"mars.jpg", "jpeg", Mars},
      {"jupiter.jpg", "jpeg", Jupiter},   {"saturn.png", "png", Saturn},
      {"uranus.png", "png", Uranus},      {"neptune.jpg", "jpeg", Neptune},
      {"pluto.png", "png", Pluto},        {"orbits.png", "png", Orbits},
  };
  std::vector<SamplePicture> pictures;
  for (const Still& still : stills) {
    std::optional<std::string> bytes = Encode(still.draw(), still.format);
    if (!bytes) return {};
    pictures.push_back({still.file_name, std::move(*bytes)});
  }
  std::vector<std::string> frames;
  for (const QImage& frame : CometFrames()) {
    std::optional<std::string> png = Encode(frame, "png");
    if (!png) return {};
    frames.push_back(std::move(*png));
  }
  std::optional<std::string> comet = BuildMng(frames, 10, 2);
  if (!comet) return {};
  pictures.push_back({"comet.mng", std::move(*comet)});
  return pictures;
}

bool WriteSamplePictures(const std::string& folder) {
  const std::vector<SamplePicture> pictures = MakeSamplePictures();
  if (pictures.empty()) return false;
  for (const SamplePicture& picture : pictures) {
    std::ofstream out(folder + "/" + picture.file_name, std::ios::binary | std::ios::trunc);
    out.write(picture.bytes.data(), static_cast<std::streamsize>(picture.bytes.size()));
    if (!out) return false;
  }
  return true;
}

}  // namespace fvx::imaging::samples

// A synthetic, photo-like stereo scene: sky, hills and a ground plane with
// texture and sensor-like noise, and a few discs and boxes at different
// depths. Every layer is drawn in its own scene coordinates, shifted for the
// right eye by the disparity times the layer's depth factor, so the right
// view shows the same texture moved sideways by an amount that depends on
// depth.
#include <algorithm>
#include <array>
#include <cmath>

#include "tools/mpogen/mpogen.h"

namespace mpogen {
namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform(double lo, double hi) { return lo + (hi - lo) * double(next() >> 11) / 9007199254740992.0; }

 private:
  uint64_t state_;
};

inline uint32_t hash2(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 0x9E3779B1u ^ uint32_t(y) * 0x85EBCA77u ^ seed;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

struct Rgb {
  int r, g, b;
};

constexpr int kTile = 256;  // side of the smooth texture tile (power of two)

// A tileable smooth texture in the range of about -64..64: random lattice
// values on two scales, bilinearly interpolated.
std::vector<int16_t> make_texture(uint32_t seed) {
  std::vector<int16_t> tile(kTile * kTile);
  auto lattice = [seed](int cells, int x, int y, uint32_t salt) {
    int cx = x * cells / kTile, cy = y * cells / kTile;
    double fx = double(x * cells % kTile) / kTile, fy = double(y * cells % kTile) / kTile;
    auto v = [&](int i, int j) {
      return double(hash2((cx + i) % cells, (cy + j) % cells, seed ^ salt) & 0xFF) - 127.5;
    };
    double top = v(0, 0) + (v(1, 0) - v(0, 0)) * fx;
    double bottom = v(0, 1) + (v(1, 1) - v(0, 1)) * fx;
    return top + (bottom - top) * fy;
  };
  for (int y = 0; y < kTile; ++y)
    for (int x = 0; x < kTile; ++x)
      tile[y * kTile + x] = int16_t(0.35 * lattice(8, x, y, 0x1234u) + 0.15 * lattice(32, x, y, 0xBEEFu));
  return tile;
}

struct Shape {
  bool disc;
  double cx, cy;    // centre, pixels
  double rx, ry;    // radius (disc: rx) or half width / half height (box)
  double depth;     // 0 = far, 1 = near: fraction of the disparity
  Rgb colour;
};

struct Scene {
  Rgb sky_top, sky_horizon, hill, ground_far, ground_near;
  double horizon;  // y of the horizon, pixels
  double hill_height, hill_f1, hill_f2, hill_p1, hill_p2;
  std::vector<Shape> shapes;  // far to near
  std::vector<int16_t> texture;
  uint32_t noise_seed;
};

Scene make_scene(const Options& o) {
  Random rnd(o.seed);
  Scene s;
  const double w = o.width, h = o.height;
  auto colour = [&](int r, int g, int b, int spread) {
    return Rgb{r + int(rnd.uniform(-spread, spread)), g + int(rnd.uniform(-spread, spread)),
               b + int(rnd.uniform(-spread, spread))};
  };
  s.sky_top = colour(70, 120, 200, 25);
  s.sky_horizon = colour(200, 215, 235, 15);
  s.hill = colour(70, 110, 60, 25);
  s.ground_far = colour(130, 140, 90, 25);
  s.ground_near = colour(110, 90, 60, 25);
  s.horizon = h * rnd.uniform(0.42, 0.55);
  s.hill_height = h * rnd.uniform(0.08, 0.16);
  s.hill_f1 = 2 * M_PI / (w * rnd.uniform(0.5, 1.2));
  s.hill_f2 = 2 * M_PI / (w * rnd.uniform(0.12, 0.3));
  s.hill_p1 = rnd.uniform(0, 2 * M_PI);
  s.hill_p2 = rnd.uniform(0, 2 * M_PI);
  const int count = 5;
  for (int i = 0; i < count; ++i) {
    Shape sh;
    sh.depth = 0.3 + 0.7 * (i + rnd.uniform(0, 0.5)) / count;
    sh.disc = (rnd.next() & 1) != 0;
    double size = std::min(w, h) * (0.06 + 0.12 * sh.depth);
    sh.rx = size * rnd.uniform(0.7, 1.3);
    sh.ry = sh.disc ? sh.rx : size * rnd.uniform(0.7, 1.6);
    sh.cx = w * rnd.uniform(0.1, 0.9);
    // Nearer objects stand lower in the picture, as on a ground plane.
    sh.cy = s.horizon + (h - s.horizon) * (0.1 + 0.8 * sh.depth) - sh.ry * 0.5;
    sh.colour = colour(60 + int(rnd.uniform(0, 150)), 60 + int(rnd.uniform(0, 150)),
                       60 + int(rnd.uniform(0, 150)), 0);
    s.shapes.push_back(sh);
  }
  s.texture = make_texture(o.seed);
  s.noise_seed = o.seed * 0x27D4EB2Fu + 0x165667B1u;
  return s;
}

inline uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

inline int lerp(int a, int b, int num, int den) { return a + (b - a) * num / den; }


// Texture plus luminance noise (with a little chroma noise) at scene
// position (sx, y); `texture` and `noise` scale the two parts.
struct Painter {
  const Scene& s;
  void operator()(uint8_t* px, Rgb c, int sx, int y, int texture, int noise) const {
    uint32_t n = hash2(sx, y, s.noise_seed);
    int t = s.texture.data()[(unsigned(y) & (kTile - 1)) * kTile + (unsigned(sx) & (kTile - 1))] *
            texture / 16;
    int lum = ((int(n & 0xFF) + int((n >> 8) & 0xFF)) - 255) * noise / 64 + t;
    int chroma = (int((n >> 16) & 0x3F) - 32) * noise / 64;
    px[0] = clamp8(c.r + lum + chroma);
    px[1] = clamp8(c.g + lum);
    px[2] = clamp8(c.b + lum - chroma);
  }
};

// Sky and hills above the horizon, the ground plane below it, for row y.
void paint_background_row(const Painter& paint, uint8_t* row, int y, int w, int h, double d,
                          const std::vector<int>& hill_top, int hill_shift) {
  const Scene& s = paint.s;
  const int horizon = int(s.horizon);
  const int sky_shift = 0;  // at infinity
  if (y < horizon) {
    Rgb sky{lerp(s.sky_top.r, s.sky_horizon.r, y, horizon), lerp(s.sky_top.g, s.sky_horizon.g, y, horizon),
            lerp(s.sky_top.b, s.sky_horizon.b, y, horizon)};
    for (int x = 0; x < w; ++x) {
      if (y >= hill_top[x])
        paint(row + 3 * x, s.hill, x + hill_shift, y, 10, 5);
      else
        paint(row + 3 * x, sky, x + sky_shift, y, 3, 3);
    }
    return;
  }
  // The ground plane comes nearer towards the bottom edge.
  int depth_num = y - horizon, depth_den = std::max(1, h - horizon);
  int shift = int(std::lround(d * (0.2 + 0.8 * depth_num / double(depth_den))));
  Rgb g{lerp(s.ground_far.r, s.ground_near.r, depth_num, depth_den),
        lerp(s.ground_far.g, s.ground_near.g, depth_num, depth_den),
        lerp(s.ground_far.b, s.ground_near.b, depth_num, depth_den)};
  for (int x = 0; x < w; ++x) paint(row + 3 * x, g, x + shift, y, 14, 6);
}

// The shapes crossing row y, each shifted by its depth.
void paint_shapes_row(const Painter& paint, uint8_t* row, int y, int w, double d) {
  for (const Shape& sh : paint.s.shapes) {
    double dy = y + 0.5 - sh.cy;
    if (std::abs(dy) >= sh.ry) continue;
    double half = sh.disc ? std::sqrt(sh.rx * sh.rx - dy * dy) : sh.rx;
    int shift = int(std::lround(d * sh.depth));
    // In scene coordinates the shape covers [cx - half, cx + half); the
    // right eye sees it `shift` pixels further left.
    int x0 = std::max(0, int(std::lround(sh.cx - half)) - shift);
    int x1 = std::min(w, int(std::lround(sh.cx + half)) - shift);
    // Shading: lit from the upper left.
    int vshade = int(-40.0 * dy / sh.ry);
    for (int x = x0; x < x1; ++x) {
      int sx = x + shift;
      int hshade = int(-30.0 * (sx - sh.cx) / sh.rx);
      Rgb c{sh.colour.r + vshade + hshade, sh.colour.g + vshade + hshade, sh.colour.b + vshade + hshade};
      paint(row + 3 * x, c, sx, y, 8, 5);
    }
  }
}

}  // namespace

Bytes render_view(const Options& o, int eye) {
  if (o.width <= 0 || o.height <= 0) return {};
  const int w = o.width, h = o.height;
  const Scene s = make_scene(o);
  const double d = eye == 1 ? o.disparity : 0.0;
  Bytes out(size_t(w) * size_t(h) * 3);

  // Hill outline for this eye, one value per column.
  const int hill_shift = int(std::lround(d * 0.15));
  std::vector<int> hill_top(w);
  for (int x = 0; x < w; ++x) {
    double sx = x + hill_shift;
    hill_top[x] = int(s.horizon - s.hill_height *
                                      (0.55 + 0.3 * std::sin(sx * s.hill_f1 + s.hill_p1) +
                                       0.15 * std::sin(sx * s.hill_f2 + s.hill_p2)));
  }
  const Painter paint{s};
  for (int y = 0; y < h; ++y) {
    uint8_t* row = out.data() + size_t(y) * w * 3;
    paint_background_row(paint, row, y, w, h, d, hill_top, hill_shift);
    paint_shapes_row(paint, row, y, w, d);
  }
  return out;
}

}  // namespace mpogen

// Generates the Stains dot brush: a 128 x 128 soft stain, written as a binary PGM
// ("P5\n128 128\n255\n" and the cells row by row).
//
//   make_stain_brush <out.pgm>
//
// Recipe. Cells are grouped into rings by their distance from the centre cell (63, 63),
// rounded to whole cells. Each ring has a target mean and a range of single values (the
// radial profile below; rings between two listed radii are interpolated). A cell starts
// at its ring's mean, displaced towards the ring's low or high end by smooth irregular
// noise (a 9 x 9 lattice of random values, bilinearly interpolated) plus a little
// per-cell jitter, from a fixed seed. Then, ring by ring:
//   1. fixed cells: the 255 plateau on rows and columns 61 to 65, and the samples of row
//      64 and column 64 at every eighth cell;
//   2. the outline: a cell outside rows 21..106 or columns 19..107 never exceeds 20 (the
//      paint threshold of the stamp), and four cells (row 21 and row 106 on column 63,
//      columns 19 and 107 on row 63) are set to 22 so that those are the exact bounds of
//      the painting cells;
//   3. listed rings reach both ends of their range exactly;
//   4. free cells are stepped by one, in a seeded order, towards the whole number nearest
//      to mean x cells, as far as the ring's range allows.
// Only integer arithmetic, square roots of integers and basic double operations are used,
// so every platform writes the same bytes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kSize = 128;
constexpr int kCentre = 63;
constexpr int kMaxRing = 91;         // the farthest cell, (127, 127), lies 90.5 cells away
constexpr int kPaintThreshold = 20;  // the stamp paints only cells above this
constexpr int kBoxTop = 21, kBoxBottom = 106, kBoxLeft = 19, kBoxRight = 107;
constexpr int kOutlineValue = 22;

// The radial profile: ring, mean, lowest and highest single value.
struct Anchor {
  int ring, mean, lo, hi;
};
constexpr Anchor kProfile[] = {
    {0, 255, 255, 255},  {1, 255, 255, 255},  {2, 255, 255, 255},  {4, 253, 252, 254},
    {6, 246, 245, 248},  {8, 233, 228, 236},  {10, 212, 207, 216}, {12, 189, 184, 195},
    {14, 164, 157, 170}, {16, 141, 134, 148}, {18, 122, 116, 127}, {20, 108, 101, 113},
    {24, 87, 82, 92},    {28, 72, 68, 78},    {32, 60, 55, 65},    {36, 47, 41, 51},
    {40, 32, 27, 36},    {42, 25, 20, 28},    {44, 18, 14, 22},    {46, 13, 9, 17},
    {48, 9, 5, 13},      {52, 6, 0, 15},      {53, 6, 0, 15},      {54, 6, 0, 15},
    {55, 6, 0, 15},      {56, 6, 0, 15},      {57, 6, 0, 15},      {58, 6, 0, 15},
    {59, 6, 0, 15},      {60, 6, 0, 15},      {61, 6, 0, 15},      {62, 6, 0, 15},
    {63, 6, 0, 15},      {64, 6, 0, 15},      {70, 4, 0, 5},       {80, 1, 1, 2},
    {kMaxRing, 1, 0, 2},
};

// Samples at every eighth cell from 0 of row 64 (by column) and of column 64 (by row).
constexpr int kRow64[16] = {7, 14, 14, 37, 64, 91, 152, 241, 255, 224, 132, 82, 57, 30, 11, 12};
constexpr int kColumn64[16] = {6, 13, 11, 32, 60, 89, 152, 240, 255, 224, 134, 86, 60, 31, 11, 13};

// rand()-style generator with its own seed, so the brush never depends on a C library.
struct Lcg {
  uint32_t state;
  int next() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  }
  double unit() { return next() / 16383.5 - 1.0; }  // -1 .. 1
};

struct RingTarget {
  double mean;
  int lo, hi;
  bool listed;
};

std::vector<RingTarget> ringTargets() {
  std::vector<RingTarget> rings(kMaxRing + 1);
  const int anchors = sizeof kProfile / sizeof kProfile[0];
  for (int i = 0; i + 1 < anchors; ++i) {
    const Anchor& a = kProfile[i];
    const Anchor& b = kProfile[i + 1];
    for (int ring = a.ring; ring <= b.ring; ++ring) {
      const double f = double(ring - a.ring) / (b.ring - a.ring);
      RingTarget t;
      t.mean = a.mean + (b.mean - a.mean) * f;
      t.lo = static_cast<int>(std::ceil(a.lo + (b.lo - a.lo) * f));
      t.hi = static_cast<int>(std::floor(a.hi + (b.hi - a.hi) * f));
      t.listed = ring == a.ring && ring != kMaxRing;
      if (ring == a.ring || ring == b.ring) {
        const Anchor& at = ring == a.ring ? a : b;
        t.lo = at.lo;
        t.hi = at.hi;
      }
      rings[ring] = t;
    }
  }
  return rings;
}

int ringOf(int row, int column) {
  const int dy = row - kCentre, dx = column - kCentre;
  // Never exactly k + 0.5 (that would need dx^2 + dy^2 = k^2 + k + 0.25), so the rounding
  // has no ties.
  return static_cast<int>(std::lround(std::sqrt(double(dx * dx + dy * dy))));
}

bool insideOutline(int row, int column) {
  return row >= kBoxTop && row <= kBoxBottom && column >= kBoxLeft && column <= kBoxRight;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <out.pgm>\n", argv[0]);
    return 2;
  }
  const std::vector<RingTarget> rings = ringTargets();
  Lcg random{20240917u};

  // Smooth noise: random values on a 9 x 9 lattice with 16-cell spacing.
  constexpr int kLattice = 9, kSpacing = 16;
  double lattice[kLattice][kLattice];
  for (auto& row : lattice) {
    for (double& v : row) v = random.unit();
  }
  std::vector<int> value(kSize * kSize);
  for (int row = 0; row < kSize; ++row) {
    for (int column = 0; column < kSize; ++column) {
      const int gy = row / kSpacing, gx = column / kSpacing;
      const double fy = double(row % kSpacing) / kSpacing,
                   fx = double(column % kSpacing) / kSpacing;
      const double top = lattice[gy][gx] + (lattice[gy][gx + 1] - lattice[gy][gx]) * fx;
      const double bottom =
          lattice[gy + 1][gx] + (lattice[gy + 1][gx + 1] - lattice[gy + 1][gx]) * fx;
      const double noise = 0.65 * (top + (bottom - top) * fy) + 0.35 * random.unit();
      const RingTarget& t = rings[ringOf(row, column)];
      const double v =
          noise >= 0 ? t.mean + noise * (t.hi - t.mean) : t.mean + noise * (t.mean - t.lo);
      value[row * kSize + column] = std::clamp(static_cast<int>(std::lround(v)), t.lo, t.hi);
    }
  }

  // Fixed cells and per-cell ceilings.
  std::vector<bool> fixed(kSize * kSize, false);
  std::vector<int> ceiling(kSize * kSize, 255);
  for (int row = 0; row < kSize; ++row) {
    for (int column = 0; column < kSize; ++column) {
      const int i = row * kSize + column;
      if (!insideOutline(row, column)) {
        ceiling[i] = kPaintThreshold;
        value[i] = std::min(value[i], kPaintThreshold);
      }
      if (row >= 61 && row <= 65 && column >= 61 && column <= 65) {
        value[i] = 255;
        fixed[i] = true;
      }
    }
  }
  for (int k = 0; k < 16; ++k) {
    value[64 * kSize + k * 8] = kRow64[k];
    fixed[64 * kSize + k * 8] = true;
    value[k * 8 * kSize + 64] = kColumn64[k];
    fixed[k * 8 * kSize + 64] = true;
  }
  for (int i : {kBoxTop * kSize + kCentre, kBoxBottom * kSize + kCentre, kCentre * kSize + kBoxLeft,
                kCentre * kSize + kBoxRight}) {
    value[i] = kOutlineValue;
    fixed[i] = true;
  }

  // Ring by ring: reach the range's ends, then the mean.
  std::vector<std::vector<int>> members(kMaxRing + 1);
  for (int i = 0; i < kSize * kSize; ++i) members[ringOf(i / kSize, i % kSize)].push_back(i);
  for (int ring = 0; ring <= kMaxRing; ++ring) {
    std::vector<int>& cells = members[ring];
    if (cells.empty()) continue;
    const RingTarget& t = rings[ring];
    // A seeded order, so the adjustments spread round the ring.
    for (size_t i = cells.size(); i > 1; --i) std::swap(cells[i - 1], cells[random.next() % i]);
    if (t.listed) {
      // Keep (or make) one cell at each end of the range.
      auto pin = [&](int v, auto canTake) {
        for (int i : cells) {
          if (value[i] == v) {
            fixed[i] = true;
            return;
          }
        }
        for (int i : cells) {
          if (!fixed[i] && canTake(i)) {
            value[i] = v;
            fixed[i] = true;
            return;
          }
        }
      };
      pin(t.lo, [](int) { return true; });
      pin(t.hi, [&](int i) { return ceiling[i] >= t.hi; });
    }
    long sum = 0;
    for (int i : cells) sum += value[i];
    const long target = std::lround(t.mean * cells.size());
    bool moved = true;
    while (sum != target && moved) {
      moved = false;
      for (int i : cells) {
        if (sum == target) break;
        if (fixed[i]) continue;
        const int step = sum < target ? 1 : -1;
        const int next = value[i] + step;
        if (next < t.lo || next > std::min(t.hi, ceiling[i])) continue;
        value[i] = next;
        sum += step;
        moved = true;
      }
    }
    // A ring whose ends pull its mean off (one 2 among 84 ones) keeps the nearest sum.
    if (t.listed && std::fabs(double(sum) / cells.size() - t.mean) >= 0.25) {
      std::fprintf(stderr, "ring %d cannot reach mean %.2f\n", ring, t.mean);
      return 1;
    }
  }

  FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "P5\n%d %d\n255\n", kSize, kSize);
  std::vector<uint8_t> bytes(value.begin(), value.end());
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return (std::fclose(out) == 0 && ok) ? 0 : 1;
}

// coolmap_gen: writes the two 256 x 256 cooling textures of the Inferno plug-ins as binary
// PGMs and prints the statistics they are made to meet.
//
//   coolmap_gen <output folder>     writes QelInferno1_coolmap.pgm and QelInferno2_coolmap.pgm
//   coolmap_gen --stats a.pgm [b.pgm] prints the statistics of stored textures
//
// Recipe (everything periodic on the 256 x 256 torus, so the textures tile without seams):
//  1. White Gaussian noise from a fixed-seed splitmix64 stream (Box-Muller pairs).
//  2. Each component is that noise blurred by a wrapped separable Gaussian kernel and
//     scaled to unit variance. Blurred white noise with blur sigma s has the correlation
//     exp(-d^2 / (4 s^2)) at distance d, so the components set the correlation profile:
//       texture 1 (soft clouds): 84 % of the variance in blobs (s = 8.6, correlation about
//         0.3 at 16 pixels and gone at 32) and 16 % in fine detail (s = 1.45);
//       texture 2 (clouds with grain): 54 % in the same blobs, 19 % in the same fine detail
//         and 27 % in per-pixel white grain (no blur).
//  3. The sum is mapped by rank onto a target distribution (histogram matching): the
//     value of the pixel of rank i is Q((i + 0.5) / 65536), where
//       Q(p) = clamp(round(mean + scale * g(invPhi(p))), 0, maxValue)
//     and g(x) = c * tanh(x / c), with c = cLow below the median and cHigh above it, flattens
//     the normal tails into the broad, bounded histogram of the textures. mean, scale, cLow
//     and cHigh are fitted (Nelder-Mead) to the texture's mean, standard deviation, share of
//     zeros and share of values 240 and above; maxValue is 248 for texture 1, 255 for 2.
//     A monotone mapping keeps the spatial structure; the zeros form the small dark holes.
//  4. Each texture's seed is fixed (component k uses seed + k). A 256 x 256 sample of a
//     field with blobs this large still varies from seed to seed (correlation at 32 pixels
//     by about +-0.05), so each seed was picked from the first few dozen candidates in
//     steps of 16 from 0x51A7E000 and 0x7E2A0000, as one whose sampled figures land on the
//     targets (for texture 2 also a correlation of about 0.06 with texture 1).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 256;  // the textures are kSize x kSize, indices taken modulo kSize
constexpr int kPixels = kSize * kSize;
constexpr double kPi = 3.14159265358979323846;

using Texture = std::vector<uint8_t>;
using Field = std::vector<double>;

// splitmix64: a small 64-bit generator defined by its few lines, so the recipe needs no
// library random engine whose output may differ between implementations.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in (0, 1): 53 random bits, never 0.
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) / 9007199254740992.0; }

 private:
  uint64_t state_;
};

Field whiteNoise(uint64_t seed) {
  SplitMix64 rng(seed);
  Field noise(kPixels);
  for (int i = 0; i < kPixels; i += 2) {
    const double radius = std::sqrt(-2.0 * std::log(rng.uniform()));
    const double angle = 2.0 * kPi * rng.uniform();
    noise[i] = radius * std::cos(angle);
    noise[i + 1] = radius * std::sin(angle);
  }
  return noise;
}

void standardise(Field& field) {
  const double mean = std::accumulate(field.begin(), field.end(), 0.0) / kPixels;
  double sumSquares = 0;
  for (double v : field) sumSquares += (v - mean) * (v - mean);
  const double deviation = std::sqrt(sumSquares / kPixels);
  for (double& v : field) v = (v - mean) / deviation;
}

// Wrapped separable Gaussian blur with standard deviation `sigma` pixels; sigma 0 returns the
// field unchanged. The result is standardised to mean 0 and variance 1.
Field blurred(const Field& field, double sigma) {
  Field out = field;
  if (sigma > 0) {
    const int radius = static_cast<int>(std::ceil(4.0 * sigma));
    std::vector<double> kernel(2 * radius + 1);
    for (int k = -radius; k <= radius; ++k)
      kernel[k + radius] = std::exp(-0.5 * k * k / (sigma * sigma));
    Field rows(kPixels, 0.0);
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        double sum = 0;
        for (int k = -radius; k <= radius; ++k)
          sum += kernel[k + radius] * field[y * kSize + ((x + k) & 255)];
        rows[y * kSize + x] = sum;
      }
    }
    for (int y = 0; y < kSize; ++y) {
      for (int x = 0; x < kSize; ++x) {
        double sum = 0;
        for (int k = -radius; k <= radius; ++k)
          sum += kernel[k + radius] * rows[((y + k) & 255) * kSize + x];
        out[y * kSize + x] = sum;
      }
    }
  }
  standardise(out);
  return out;
}

// Inverse of the standard normal distribution function, by bisection on erfc (exact to
// about 1e-12, plenty for 8-bit output).
double inversePhi(double p) {
  double lo = -10, hi = 10;
  for (int i = 0; i < 80; ++i) {
    const double mid = 0.5 * (lo + hi);
    if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  return 0.5 * (lo + hi);
}

// The marginal distribution a texture is mapped onto, and the figures it must give.
struct Marginal {
  double mean, deviation, zeroShare, topShare;  // targets: mean, sd, share == 0, share >= 240
  int maxValue;
};

struct Shape {
  double centre, scale, cLow, cHigh;
};

int quantileValue(const Shape& s, double x, int maxValue) {
  const double c = x < 0 ? s.cLow : s.cHigh;
  const double v = std::round(s.centre + s.scale * c * std::tanh(x / c));
  return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(maxValue)));
}

const std::vector<double>& normalQuantiles() {
  static const std::vector<double> quantiles = [] {
    std::vector<double> q(kPixels);
    for (int i = 0; i < kPixels; ++i) q[i] = inversePhi((i + 0.5) / kPixels);
    return q;
  }();
  return quantiles;
}

// Squared relative misfit of a shape to the targets.
double misfit(const Shape& s, const Marginal& m) {
  if (s.scale <= 0 || s.cLow <= 0.05 || s.cHigh <= 0.05) return 1e30;
  double sum = 0, sumSquares = 0, zeros = 0, top = 0;
  for (double x : normalQuantiles()) {
    const int v = quantileValue(s, x, m.maxValue);
    sum += v;
    sumSquares += double(v) * v;
    zeros += v == 0;
    top += v >= 240;
  }
  const double mean = sum / kPixels;
  const double deviation = std::sqrt(sumSquares / kPixels - mean * mean);
  const auto sq = [](double a) { return a * a; };
  return sq(mean - m.mean) + sq(deviation - m.deviation) +
         sq(100.0 * (zeros / kPixels - m.zeroShare)) * 4 +
         sq(100.0 * (top / kPixels - m.topShare)) * 4;
}

// Nelder-Mead over the four shape parameters.
Shape fitShape(const Marginal& m) {
  std::array<Shape, 5> simplex = {{{m.mean, m.deviation, 2.0, 2.0},
                                   {m.mean + 10, m.deviation, 2.0, 2.0},
                                   {m.mean, m.deviation + 10, 2.0, 2.0},
                                   {m.mean, m.deviation, 2.5, 2.0},
                                   {m.mean, m.deviation, 2.0, 2.5}}};
  const auto asArray = [](const Shape& s) {
    return std::array<double, 4>{s.centre, s.scale, s.cLow, s.cHigh};
  };
  const auto asShape = [](const std::array<double, 4>& a) { return Shape{a[0], a[1], a[2], a[3]}; };
  std::array<double, 5> cost;
  for (int i = 0; i < 5; ++i) cost[i] = misfit(simplex[i], m);
  for (int iteration = 0; iteration < 400; ++iteration) {
    std::array<int, 5> order;
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return cost[a] < cost[b]; });
    const int worst = order[4];
    std::array<double, 4> centroid{};
    for (int i = 0; i < 4; ++i) {
      const auto a = asArray(simplex[order[i]]);
      for (int k = 0; k < 4; ++k) centroid[k] += a[k] / 4;
    }
    const auto along = [&](double t) {
      const auto w = asArray(simplex[worst]);
      std::array<double, 4> p;
      for (int k = 0; k < 4; ++k) p[k] = centroid[k] + t * (w[k] - centroid[k]);
      return asShape(p);
    };
    const Shape reflected = along(-1);
    const double reflectedCost = misfit(reflected, m);
    if (reflectedCost < cost[order[0]]) {
      const Shape expanded = along(-2);
      const double expandedCost = misfit(expanded, m);
      simplex[worst] = expandedCost < reflectedCost ? expanded : reflected;
      cost[worst] = std::min(expandedCost, reflectedCost);
    } else if (reflectedCost < cost[order[3]]) {
      simplex[worst] = reflected;
      cost[worst] = reflectedCost;
    } else {
      const Shape contracted = along(0.5);
      const double contractedCost = misfit(contracted, m);
      if (contractedCost < cost[worst]) {
        simplex[worst] = contracted;
        cost[worst] = contractedCost;
      } else {
        const auto best = asArray(simplex[order[0]]);
        for (int i = 1; i < 5; ++i) {
          auto a = asArray(simplex[order[i]]);
          for (int k = 0; k < 4; ++k) a[k] = best[k] + 0.5 * (a[k] - best[k]);
          simplex[order[i]] = asShape(a);
          cost[order[i]] = misfit(simplex[order[i]], m);
        }
      }
    }
  }
  return simplex[std::min_element(cost.begin(), cost.end()) - cost.begin()];
}

// Rank mapping of `field` onto the fitted marginal distribution.
Texture mapByRank(const Field& field, const Shape& shape, int maxValue) {
  std::vector<int> order(kPixels);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return field[a] < field[b]; });
  Texture texture(kPixels);
  for (int rank = 0; rank < kPixels; ++rank) {
    texture[order[rank]] =
        static_cast<uint8_t>(quantileValue(shape, normalQuantiles()[rank], maxValue));
  }
  return texture;
}

struct Component {
  uint64_t seed;
  double sigma;     // blur, pixels (0: white grain)
  double variance;  // share of the field's variance
};

Field mix(const std::vector<Component>& components) {
  Field field(kPixels, 0.0);
  for (const Component& c : components) {
    const Field part = blurred(whiteNoise(c.seed), c.sigma);
    for (int i = 0; i < kPixels; ++i) field[i] += std::sqrt(c.variance) * part[i];
  }
  return field;
}

// ---- statistics ---------------------------------------------------------------------------

double correlationAt(const Texture& t, int distance) {
  double sum = 0;
  for (uint8_t v : t) sum += v;
  const double mean = sum / kPixels;
  double variance = 0, covariance = 0;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double a = t[y * kSize + x] - mean;
      variance += a * a;
      covariance += a * (t[y * kSize + ((x + distance) & 255)] - mean);
      covariance += a * (t[((y + distance) & 255) * kSize + x] - mean);
    }
  }
  return covariance / (2 * variance);
}

double crossCorrelation(const Texture& a, const Texture& b) {
  double ma = 0, mb = 0;
  for (int i = 0; i < kPixels; ++i) ma += a[i], mb += b[i];
  ma /= kPixels;
  mb /= kPixels;
  double va = 0, vb = 0, cov = 0;
  for (int i = 0; i < kPixels; ++i) {
    va += (a[i] - ma) * (a[i] - ma);
    vb += (b[i] - mb) * (b[i] - mb);
    cov += (a[i] - ma) * (b[i] - mb);
  }
  return cov / std::sqrt(va * vb);
}

void printStats(const char* name, const Texture& t) {
  double sum = 0, sumSquares = 0, zeros = 0, top = 0;
  int lo = 255, hi = 0;
  for (uint8_t v : t) {
    sum += v;
    sumSquares += double(v) * v;
    zeros += v == 0;
    top += v >= 240;
    lo = std::min<int>(lo, v);
    hi = std::max<int>(hi, v);
  }
  const double mean = sum / kPixels;
  double inner = 0, seam = 0;
  for (int a = 0; a < kSize; ++a) {
    for (int b = 0; b + 1 < kSize; ++b) {
      inner += std::abs(t[a * kSize + b] - t[a * kSize + b + 1]);
      inner += std::abs(t[b * kSize + a] - t[(b + 1) * kSize + a]);
    }
    seam += std::abs(t[a * kSize + 255] - t[a * kSize]);
    seam += std::abs(t[255 * kSize + a] - t[a]);
  }
  std::printf("%s: range %d..%d, mean %.1f, sd %.1f, zeros %.2f %%, >=240 %.2f %%\n", name, lo, hi,
              mean, std::sqrt(sumSquares / kPixels - mean * mean), 100 * zeros / kPixels,
              100 * top / kPixels);
  std::printf(
      "  neighbour |diff| %.1f, seam |diff| %.1f, correlation at 1/8/16/32: %.2f %.2f %.2f %.2f\n",
      inner / (2.0 * kSize * (kSize - 1)), seam / (2.0 * kSize), correlationAt(t, 1),
      correlationAt(t, 8), correlationAt(t, 16), correlationAt(t, 32));
}

bool writePgm(const std::string& path, const Texture& t) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << kSize << ' ' << kSize << "\n255\n";
  out.write(reinterpret_cast<const char*>(t.data()), t.size());
  return static_cast<bool>(out);
}

bool readPgm(const std::string& path, Texture& t) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  if (!in || magic != "P5" || w != kSize || h != kSize || maxval != 255) return false;
  t.resize(kPixels);
  in.read(reinterpret_cast<char*>(t.data()), kPixels);
  return static_cast<bool>(in);
}

// The fixed recipes of the two textures.
constexpr uint64_t kSeed1 = 0x51A7E110;
constexpr uint64_t kSeed2 = 0x7E2A0340;
constexpr Marginal kMarginal1 = {123.4, 60.3, 0.016, 0.006, 248};
constexpr Marginal kMarginal2 = {122.6, 74.5, 0.048, 0.057, 255};

Texture makeTexture1(uint64_t seed = kSeed1) {
  const Field field = mix({{seed, 8.6, 0.84}, {seed + 1, 1.45, 0.16}});
  static const Shape shape = fitShape(kMarginal1);
  return mapByRank(field, shape, kMarginal1.maxValue);
}

Texture makeTexture2(uint64_t seed = kSeed2) {
  const Field field = mix({{seed, 8.6, 0.54}, {seed + 1, 1.45, 0.19}, {seed + 2, 0.0, 0.27}});
  static const Shape shape = fitShape(kMarginal2);
  return mapByRank(field, shape, kMarginal2.maxValue);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--stats") == 0) {
    std::vector<Texture> textures;
    for (int i = 2; i < argc; ++i) {
      Texture t;
      if (!readPgm(argv[i], t)) {
        std::fprintf(stderr, "%s: not a 256 x 256 binary PGM\n", argv[i]);
        return 1;
      }
      printStats(argv[i], t);
      textures.push_back(std::move(t));
    }
    if (textures.size() == 2)
      std::printf("correlation between the two: %.3f\n",
                  crossCorrelation(textures[0], textures[1]));
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: coolmap_gen <output folder> | coolmap_gen --stats a.pgm [b.pgm]\n");
    return 2;
  }
  const Texture first = makeTexture1();
  const Texture second = makeTexture2();
  printStats("QelInferno1", first);
  printStats("QelInferno2", second);
  std::printf("correlation between the two: %.3f\n", crossCorrelation(first, second));
  const std::string folder = argv[1];
  if (!writePgm(folder + "/QelInferno1_coolmap.pgm", first) ||
      !writePgm(folder + "/QelInferno2_coolmap.pgm", second)) {
    std::fprintf(stderr, "cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}

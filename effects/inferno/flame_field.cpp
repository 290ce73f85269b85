#include "effects/inferno/flame_field.h"

#include <algorithm>
#include <cstring>

#include "effects/inferno/fire_palette.h"
#include "effects/inferno/fixed_point.h"

#if defined(__SSE2__) && !defined(QEL_NO_SIMD)
#include <emmintrin.h>
#define QEL_INFERNO_SSE2 1
#endif

namespace inferno {

namespace {

// Below this many pixels a pass stays on the calling thread: starting the team would cost
// more than the work.
constexpr long kParallelPixels = 1L << 15;

// Ignition without branches in the pixel loop: the same arithmetic as ignitedHeat (the
// moved heat in its non-negative form, see moveTowards), with the gain decided per frame.
template <int kBytesPerPixel, bool kAlphaWeighted, bool kGain>
void igniteRowOf(const uint8_t* pixels, uint8_t* heat, int count, const KeyWeights& w,
                 const Controls& c) {
  const int wB = w.blue, wG = w.green, wR = w.red;
  const int level = c.keyLevel, range = c.keyRange, gain = c.igniteGain;
  const int take = c.igniteAmount, keep = 256 - c.igniteAmount;
  for (int x = 0; x < count; ++x) {
    const uint8_t* p = pixels + x * kBytesPerPixel;
    const int sum = wB * p[0] + wG * p[1] + wR * p[2];
    int key = kAlphaWeighted ? (sum * p[3]) >> 16 : sum >> 8;
    const int distance = key - level;
    const bool passes = (distance < 0 ? -distance : distance) < range;
    if constexpr (kGain) key = std::min((key * gain) >> 8, 255);
    const int h = heat[x];
    const int moved = (h * keep + key * take) >> 8;
    heat[x] = static_cast<uint8_t>(passes ? moved : h);
  }
}

#ifdef QEL_INFERNO_SSE2
// Keys of four 32-bit pixels in 32-bit lanes. `weights` holds (blue, green, red, 0) twice as
// 16-bit lanes: one multiply-add gives blue + green and red + 0 per pixel, the two halves
// are then added. With alpha weighting, (sum x alpha) >> 16 from 32 x 32-bit products of
// the even and the odd lanes (sum < 2^19, alpha < 2^8: the products stay below 2^27).
template <bool kAlphaWeighted>
__m128i keysOfFourPixels(__m128i pixels, __m128i weights) {
  const __m128i zero = _mm_setzero_si128();
  const __m128 low = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights));
  const __m128 high = _mm_castsi128_ps(_mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights));
  const __m128i sum =
      _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0))),
                    _mm_castps_si128(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1))));
  if constexpr (!kAlphaWeighted) {
    return _mm_srli_epi32(sum, 8);
  } else {
    const __m128i alpha = _mm_srli_epi32(pixels, 24);
    const __m128i even = _mm_srli_epi64(_mm_mul_epu32(sum, alpha), 16);
    const __m128i odd =
        _mm_srli_epi64(_mm_mul_epu32(_mm_srli_epi64(sum, 32), _mm_srli_epi64(alpha, 32)), 16);
    return _mm_or_si128(even, _mm_slli_epi64(odd, 32));
  }
}

// New heat of four cells (32-bit lanes) for their keys, as igniteRowOf: the band test on
// |key - level|, the capped gain as a multiply-add of (key, 0) with (gain, 0), the move as
// a multiply-add of (heat, key) with (256 - amount, amount), its low 8 bits kept.
template <bool kGain>
__m128i ignitedFour(__m128i heat, __m128i key, __m128i level, __m128i range, __m128i gain,
                    __m128i amounts) {
  const __m128i k255 = _mm_set1_epi32(255);
  const __m128i distance = _mm_sub_epi32(key, level);
  const __m128i sign = _mm_srai_epi32(distance, 31);
  const __m128i passes = _mm_cmpgt_epi32(range, _mm_sub_epi32(_mm_xor_si128(distance, sign), sign));
  if constexpr (kGain) {
    key = _mm_srli_epi32(_mm_madd_epi16(key, gain), 8);
    const __m128i over = _mm_cmpgt_epi32(key, k255);
    key = _mm_or_si128(_mm_and_si128(over, k255), _mm_andnot_si128(over, key));
  }
  const __m128i moved = _mm_and_si128(
      _mm_srli_epi32(_mm_madd_epi16(_mm_or_si128(heat, _mm_slli_epi32(key, 16)), amounts), 8),
      k255);
  return _mm_or_si128(_mm_and_si128(passes, moved), _mm_andnot_si128(passes, heat));
}

// 32-bit pixels, 16 at a time. Returns how many pixels it did.
template <bool kAlphaWeighted, bool kGain>
int igniteRowSse2(const uint8_t* pixels, uint8_t* heat, int count, const KeyWeights& w,
                  const Controls& c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i weights = _mm_setr_epi16(w.blue, w.green, w.red, 0, w.blue, w.green, w.red, 0);
  const __m128i level = _mm_set1_epi32(c.keyLevel);
  const __m128i range = _mm_set1_epi32(c.keyRange);
  const __m128i gain = _mm_set1_epi32(c.igniteGain);
  const __m128i amounts = _mm_set1_epi32((256 - c.igniteAmount) | (c.igniteAmount << 16));
  int x = 0;
  for (; x + 16 <= count; x += 16) {
    const __m128i cells = _mm_loadu_si128(reinterpret_cast<const __m128i*>(heat + x));
    const __m128i cellsLow = _mm_unpacklo_epi8(cells, zero);
    const __m128i cellsHigh = _mm_unpackhi_epi8(cells, zero);
    const __m128i h[4] = {_mm_unpacklo_epi16(cellsLow, zero), _mm_unpackhi_epi16(cellsLow, zero),
                          _mm_unpacklo_epi16(cellsHigh, zero), _mm_unpackhi_epi16(cellsHigh, zero)};
    __m128i result[4];
    for (int g = 0; g < 4; ++g) {
      const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 4 * (x + 4 * g)));
      result[g] = ignitedFour<kGain>(h[g], keysOfFourPixels<kAlphaWeighted>(p, weights), level,
                                     range, gain, amounts);
    }
    // Every lane holds 0..255: the signed packs do not saturate.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(heat + x),
                     _mm_packus_epi16(_mm_packs_epi32(result[0], result[1]),
                                      _mm_packs_epi32(result[2], result[3])));
  }
  return x;
}
#endif

template <int kBytesPerPixel, bool kAlphaWeighted, bool kGain>
void igniteRowFast(const uint8_t* pixels, uint8_t* heat, int count, const KeyWeights& w,
                   const Controls& c) {
  int done = 0;
#ifdef QEL_INFERNO_SSE2
  if constexpr (kBytesPerPixel == 4)
    done = igniteRowSse2<kAlphaWeighted, kGain>(pixels, heat, count, w, c);
#endif
  igniteRowOf<kBytesPerPixel, kAlphaWeighted, kGain>(pixels + done * kBytesPerPixel, heat + done,
                                                     count - done, w, c);
}

template <int kBytesPerPixel, bool kAlphaWeighted>
void igniteRowWithGain(const uint8_t* pixels, uint8_t* heat, int count, const KeyWeights& w,
                       const Controls& c) {
  if (c.igniteGain > 256) {
    igniteRowFast<kBytesPerPixel, kAlphaWeighted, true>(pixels, heat, count, w, c);
  } else {
    igniteRowFast<kBytesPerPixel, kAlphaWeighted, false>(pixels, heat, count, w, c);
  }
}

}  // namespace

KeyWeights keyWeights(int bytesPerPixel, bool lowWeights) {
  if (bytesPerPixel == 4) return lowWeights ? KeyWeights{606, 279, 476} : KeyWeights{74, 401, 204};
  return lowWeights ? KeyWeights{76, 35, 60} : KeyWeights{9, 50, 25};
}

void igniteRowReference(const uint8_t* pixels, uint8_t* heat, int count, int bytesPerPixel,
                        const Controls& c) {
  const KeyWeights w = keyWeights(bytesPerPixel, c.lowWeights);
  const bool alphaWeighted = bytesPerPixel == 4 && c.alphaWeighted;
  for (int x = 0; x < count; ++x) {
    heat[x] = ignitedHeat(heat[x], brightnessKey(pixels + x * bytesPerPixel, w, alphaWeighted), c);
  }
}

void igniteRow(const uint8_t* pixels, uint8_t* heat, int count, int bytesPerPixel,
               const Controls& c) {
  // An amount of 0 leaves every cell as it is.
  if (c.igniteAmount == 0 || c.keyRange == 0) return;
  const KeyWeights w = keyWeights(bytesPerPixel, c.lowWeights);
  if (bytesPerPixel == 4) {
    if (c.alphaWeighted) {
      igniteRowWithGain<4, true>(pixels, heat, count, w, c);
    } else {
      igniteRowWithGain<4, false>(pixels, heat, count, w, c);
    }
  } else {
    igniteRowWithGain<3, false>(pixels, heat, count, w, c);
  }
}

void ignite(const uint8_t* frame, uint8_t* heat, int width, int height, int bytesPerPixel,
            const Controls& c) {
  const size_t rowBytes = static_cast<size_t>(width) * bytesPerPixel;
  // Every cell depends only on its own pixel: rows may run on any thread.
  [[maybe_unused]] const bool parallel = static_cast<long>(width) * height >= kParallelPixels;
#pragma omp parallel for schedule(static) if (parallel)
  for (int y = 0; y < height; ++y) {
    igniteRow(frame + y * rowBytes, heat + static_cast<size_t>(y) * width, width, bytesPerPixel, c);
  }
}

void advanceCoolingTexture(int32_t& scroll, int32_t& offset, int scrollStep, int offsetStep) {
  scroll -= scrollStep;
  if (scroll < 0) scroll += 256;
  const int32_t t = offset + offsetStep;
  offset = t < 256 ? t : t - 64;
}

void buildBurnTables(BurnTables& tables, const uint8_t* coolMap, int offset, const Controls& c) {
  uint8_t coolingOfSample[256];
  for (int sample = 0; sample < 256; ++sample) {
    const int32_t cooling = coolingAmount(sample, offset, c.coolBase, c.coolFactor);
    coolingOfSample[sample] = static_cast<uint8_t>(std::min<int32_t>(cooling, 255));
  }
  for (int t = 0; t < kCoolMapSide; ++t) {
    uint8_t* row = tables.cooling[t];
    const uint8_t* texture = coolMap + t * kCoolMapSide;
    for (int x = 0; x < kCoolingStride; ++x) row[x] = coolingOfSample[texture[x % kCoolMapSide]];
  }
  for (int heat = 0; heat < 256; ++heat) {
    tables.colors[heat][0] = fireChannel(kFirePalette.blue[heat], c.brightness);
    tables.colors[heat][1] = fireChannel(kFirePalette.green[heat], c.brightness);
    tables.colors[heat][2] = fireChannel(kFirePalette.red[heat], c.brightness);
    tables.colors[heat][3] = fireAlpha(heat, c.brightness);
  }
}

void burnRowReference(const uint8_t* above, const uint8_t* source, const uint8_t* below,
                      const uint8_t* coolMapRow, int offset, int coolBase, int32_t coolFactor,
                      int brightness, uint8_t* nextRow, uint8_t* colorRow, int width,
                      int bytesPerPixel) {
  for (int x = 1; x <= width - 2; ++x) {
    const int average = (source[x - 1] + source[x + 1] + above[x] + below[x]) / 4;
    const int32_t cooling =
        coolingAmount(coolMapRow[x % kCoolMapSide], offset, coolBase, coolFactor);
    const int v = cooling > average ? 0 : average - cooling;
    nextRow[x] = static_cast<uint8_t>(v);
    uint8_t* color = colorRow + x * bytesPerPixel;
    color[0] = fireChannel(kFirePalette.blue[v], brightness);
    color[1] = fireChannel(kFirePalette.green[v], brightness);
    color[2] = fireChannel(kFirePalette.red[v], brightness);
    if (bytesPerPixel == 4) color[3] = fireAlpha(v, brightness);
  }
}

namespace {

// nextRow[x] for x in begin..end - 1 (inside 1..width - 2): the average of the four
// neighbours, less the cooling, saturating at 0.
void burnHeatSpan(const uint8_t* above, const uint8_t* source, const uint8_t* below,
                  const uint8_t* coolingRow, uint8_t* nextRow, int begin, int end) {
  int x = begin;
#ifdef QEL_INFERNO_SSE2
  const __m128i zero = _mm_setzero_si128();
  // 16 cells at a time; the loads reach source[x + 16], inside the row while x + 16 <= end.
  for (; x + 16 <= end; x += 16) {
    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x - 1));
    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x + 1));
    const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + x));
    const __m128i down = _mm_loadu_si128(reinterpret_cast<const __m128i*>(below + x));
    // Sums of four bytes (at most 1020) in 16-bit lanes, then div 4.
    const __m128i low = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(left, zero), _mm_unpacklo_epi8(right, zero)),
                      _mm_add_epi16(_mm_unpacklo_epi8(up, zero), _mm_unpacklo_epi8(down, zero))),
        2);
    const __m128i high = _mm_srli_epi16(
        _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(left, zero), _mm_unpackhi_epi8(right, zero)),
                      _mm_add_epi16(_mm_unpackhi_epi8(up, zero), _mm_unpackhi_epi8(down, zero))),
        2);
    const __m128i average = _mm_packus_epi16(low, high);
    // The cooling row repeats its first 16 columns past 255, so the load never wraps.
    const __m128i cooling =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(coolingRow + (x & (kCoolMapSide - 1))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(nextRow + x), _mm_subs_epu8(average, cooling));
  }
#endif
  for (; x < end; ++x) {
    const int average = (source[x - 1] + source[x + 1] + above[x] + below[x]) >> 2;
    const int cooling = coolingRow[x & (kCoolMapSide - 1)];
    nextRow[x] = static_cast<uint8_t>(average > cooling ? average - cooling : 0);
  }
}

}  // namespace

void burnRow(const uint8_t* above, const uint8_t* source, const uint8_t* below,
             const uint8_t* coolingRow, const BurnTables& tables, uint8_t* nextRow,
             uint8_t* colorRow, int width, int bytesPerPixel) {
  if (width < 3) return;
  burnHeatSpan(above, source, below, coolingRow, nextRow, 1, width - 1);
  if (bytesPerPixel == 4) {
    // Four cells per step from one 32-bit load of the heat row.
    int x = 1;
    for (; x + 4 <= width - 1; x += 4) {
      uint32_t cells;
      std::memcpy(&cells, nextRow + x, 4);
      std::memcpy(colorRow + 4 * x, tables.colors[cells & 255], 4);
      std::memcpy(colorRow + 4 * x + 4, tables.colors[(cells >> 8) & 255], 4);
      std::memcpy(colorRow + 4 * x + 8, tables.colors[(cells >> 16) & 255], 4);
      std::memcpy(colorRow + 4 * x + 12, tables.colors[cells >> 24], 4);
    }
    for (; x <= width - 2; ++x) std::memcpy(colorRow + 4 * x, tables.colors[nextRow[x]], 4);
  } else {
    // Four-byte stores whose fourth byte the next pixel overwrites; the last pixel gets
    // three bytes so that column width - 1 keeps its contents.
    for (int x = 1; x < width - 2; ++x) std::memcpy(colorRow + 3 * x, tables.colors[nextRow[x]], 4);
    std::memcpy(colorRow + 3 * (width - 2), tables.colors[nextRow[width - 2]], 3);
  }
}

void burn(const uint8_t* heat, uint8_t* next, uint8_t* colors, int width, int height,
          int bytesPerPixel, int rise, bool bottomUp, int scroll, const BurnTables& tables) {
  const int rows = height - rise - 2;
  if (rows < 1 || width < 3) return;
  const size_t colorRowBytes = static_cast<size_t>(width) * bytesPerPixel;
  [[maybe_unused]] const bool parallel = static_cast<long>(rows) * width >= kParallelPixels;
#pragma omp parallel for schedule(static) if (parallel)
  for (int r = 1; r <= rows; ++r) {
    // With the first row at the bottom the heat moves up in memory, otherwise down; the
    // texture row runs the other way in the first case so that the pattern rises with it.
    const int source = bottomUp ? r : height - 1 - r;
    const int destination = bottomUp ? r + rise : height - 1 - r - rise;
    const int textureRow = bottomUp ? 255 - ((scroll + r) & 255) : (scroll + r) & 255;
    const uint8_t* sourceRow = heat + static_cast<size_t>(source) * width;
    burnRow(sourceRow - width, sourceRow, sourceRow + width, tables.cooling[textureRow], tables,
            next + static_cast<size_t>(destination) * width, colors + destination * colorRowBytes,
            width, bytesPerPixel);
  }
}

void blendHeatRowReference(uint8_t* heat, const uint8_t* next, int count, int factor) {
  for (int i = 0; i < count; ++i) {
    heat[i] = static_cast<uint8_t>(moveTowardsByDefinition(heat[i], next[i], factor));
  }
}

void blendHeatRow(uint8_t* heat, const uint8_t* next, int count, int factor) {
  int i = 0;
#ifdef QEL_INFERNO_SSE2
  // (heat x (256 - factor) + next x factor) >> 8 in 16-bit lanes: the sum is at most
  // 255 x 256, so it fits.
  const __m128i zero = _mm_setzero_si128();
  const __m128i keep = _mm_set1_epi16(static_cast<short>(256 - factor));
  const __m128i take = _mm_set1_epi16(static_cast<short>(factor));
  for (; i + 16 <= count; i += 16) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(heat + i));
    const __m128i n = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + i));
    const __m128i low =
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(h, zero), keep),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(n, zero), take)),
                       8);
    const __m128i high =
        _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(h, zero), keep),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(n, zero), take)),
                       8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(heat + i), _mm_packus_epi16(low, high));
  }
#endif
  for (; i < count; ++i) heat[i] = static_cast<uint8_t>(moveTowards(heat[i], next[i], factor));
}

void blendHeat(uint8_t* heat, const uint8_t* next, int width, int height, int factor) {
  [[maybe_unused]] const bool parallel = static_cast<long>(width) * height >= kParallelPixels;
#pragma omp parallel for schedule(static) if (parallel)
  for (int y = 0; y < height; ++y) {
    const size_t row = static_cast<size_t>(y) * width;
    blendHeatRow(heat + row, next + row, width, factor);
  }
}

}  // namespace inferno

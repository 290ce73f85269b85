// The flame field of the Inferno effect: ignition, the cooling texture advance, the burn step
// and the fire-map (heat) blend. Heat maps hold one byte per pixel, in frame memory order;
// colour images hold bytesPerPixel bytes (blue, green, red, alpha) per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "effects/inferno/inferno_controls.h"

namespace inferno {

constexpr int kCoolMapSide = 256;  // the cooling texture is 256 x 256, indices modulo 256

// ---- Ignition ---------------------------------------------------------------------------

// Multipliers of the blue, green and red byte that make a pixel's brightness key. The
// 4-byte sets are about eight times the 3-byte ones, so 32-bit keys reach 1355 (low set).
struct KeyWeights {
  int blue, green, red;
};
KeyWeights keyWeights(int bytesPerPixel, bool lowWeights);

// Brightness key of one pixel: (weighted sum) >> 8, or with alpha weighting (32-bit only)
// (weighted sum x alpha) >> 16. At most 1355 x 255 x 255 < 2^31.
constexpr int brightnessKey(const uint8_t* pixel, const KeyWeights& w, bool alphaWeighted) {
  const int sum = w.blue * pixel[0] + w.green * pixel[1] + w.red * pixel[2];
  return alphaWeighted ? (sum * pixel[3]) >> 16 : sum >> 8;
}

// New heat of one cell for a key: unchanged unless |key - keyLevel| < keyRange; then the key
// is scaled by gain / 256 (capped at 255) when gain > 256, and the heat moves towards it by
// amount / 256, floored, keeping the low 8 bits (keys above 255 wrap).
constexpr uint8_t ignitedHeat(int heat, int key, const Controls& c) {
  const int distance = key - c.keyLevel;
  if ((distance < 0 ? -distance : distance) >= c.keyRange) return static_cast<uint8_t>(heat);
  if (c.igniteGain > 256) {
    const int gained = (key * c.igniteGain) >> 8;
    key = gained < 255 ? gained : 255;
  }
  return static_cast<uint8_t>(heat + (((key - heat) * c.igniteAmount) >> 8));
}

// One row of ignition: `count` pixels of `pixels` into `heat`. The reference form applies
// brightnessKey and ignitedHeat pixel by pixel; igniteRow is the optimised one.
void igniteRowReference(const uint8_t* pixels, uint8_t* heat, int count, int bytesPerPixel,
                        const Controls& c);
void igniteRow(const uint8_t* pixels, uint8_t* heat, int count, int bytesPerPixel,
               const Controls& c);

// Ignition over a whole frame (every pixel, whatever the orientation). Each cell depends
// only on its own pixel, so rows run in parallel; the result is the same on any thread count.
void ignite(const uint8_t* frame, uint8_t* heat, int width, int height, int bytesPerPixel,
            const Controls& c);

// ---- Cooling texture advance ------------------------------------------------------------

// scroll -= scrollStep (plus 256 when negative: 0..255). offset += offsetStep, falling back
// by 64 (not 256) when it reaches 256, so it then cycles within 192..255.
void advanceCoolingTexture(int32_t& scroll, int32_t& offset, int scrollStep, int offsetStep);

// Cooling from one texture sample: e = ((sample + offset) div 16) - coolBase, -64..31;
// 0 when e < 0, else (e x coolFactor) >> 16, where e x coolFactor < 31 x 2^26 < 2^31.
constexpr int32_t coolingAmount(int sample, int offset, int coolBase, int32_t coolFactor) {
  const int32_t excess = (sample + offset) / 16 - coolBase;
  return excess < 0 ? 0 : (excess * coolFactor) >> 16;
}

// One fire colour channel: ramp (0..62) x brightness (0..2048) >> 8, capped at 255.
constexpr uint8_t fireChannel(int ramp, int brightness) {
  const int v = (ramp * brightness) >> 8;
  return static_cast<uint8_t>(v < 255 ? v : 255);
}

// Fire alpha of heat v: v x (brightness div 2) >> 8, capped at 255.
constexpr uint8_t fireAlpha(int heat, int brightness) {
  const int v = (heat * (brightness / 2)) >> 8;
  return static_cast<uint8_t>(v < 255 ? v : 255);
}

// ---- Burn step --------------------------------------------------------------------------

// Columns of a cooling table row: the 256 texture columns and 16 repeated ones, so that a
// 16-byte load starting at any column x mod 256 stays inside the row.
constexpr int kCoolingStride = kCoolMapSide + 16;

// Per-frame lookup tables of the burn step.
struct BurnTables {
  // Cooling of every texel for this frame's offset, base and factor, capped at 255 (heat
  // never exceeds 255, so a larger cooling clears it all the same).
  uint8_t cooling[kCoolMapSide][kCoolingStride];
  // Fire colour of every heat: blue, green, red, alpha.
  uint8_t colors[256][4];
};

void buildBurnTables(BurnTables& tables, const uint8_t* coolMap, int offset, const Controls& c);

// One destination row of the burn step, straight from the definition: for x in
// 1..width - 2, v = max(avg of the four neighbours of source cell x - cooling, 0) into
// nextRow[x] and its colour into colorRow. `above` and `below` are the memory rows
// before and after `source`; coolMapRow is texture row t.
void burnRowReference(const uint8_t* above, const uint8_t* source, const uint8_t* below,
                      const uint8_t* coolMapRow, int offset, int coolBase, int32_t coolFactor,
                      int brightness, uint8_t* nextRow, uint8_t* colorRow, int width,
                      int bytesPerPixel);

// The same row from the frame's tables (and SSE2 where built with it).
void burnRow(const uint8_t* above, const uint8_t* source, const uint8_t* below,
             const uint8_t* coolingRow, const BurnTables& tables, uint8_t* nextRow,
             uint8_t* colorRow, int width, int bytesPerPixel);

// The burn step over the frame: reads `heat`, writes `next` and `colors`, rows in parallel.
// Nothing happens unless height - rise - 2 >= 1 and width >= 3.
void burn(const uint8_t* heat, uint8_t* next, uint8_t* colors, int width, int height,
          int bytesPerPixel, int rise, bool bottomUp, int scroll, const BurnTables& tables);

// ---- Fire-map blend ---------------------------------------------------------------------

void blendHeatRowReference(uint8_t* heat, const uint8_t* next, int count, int factor);
void blendHeatRow(uint8_t* heat, const uint8_t* next, int count, int factor);

// heat[i] moves towards next[i] by factor / 256 (0..256), floored, for every cell; rows in
// parallel (each cell depends only on itself).
void blendHeat(uint8_t* heat, const uint8_t* next, int width, int height, int factor);

}  // namespace inferno

#include "host/gallery.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "host/frame_io.h"
#include "host/host_error.h"
#include "host/label_font.h"
#include "host/png_file.h"
#include "host/render.h"

namespace qelfx {

namespace {

constexpr int kSheetBytesPerPixel = 3;
constexpr int kMargin = 12;     // pixels around and between tiles
constexpr int kLabelScale = 2;  // label dots are 2 x 2 pixels
constexpr int kHeaderScale = 2;
const uint8_t kBackground[3] = {28, 24, 24};  // blue, green, red: near black
const uint8_t kLabelColour[3] = {235, 235, 235};
const uint8_t kHeaderColour[3] = {160, 170, 170};

struct Row {
  std::string label;
  std::vector<std::vector<uint8_t>> tiles;  // one per column, packed BGRA
};

// Frame numbers (from 0) shown in the columns: evenly spread, the last frame last.
std::vector<long> chosenFrames(long frames, int columns) {
  std::vector<long> chosen;
  for (int c = 1; c <= columns; ++c) chosen.push_back(frames * c / columns - 1);
  return chosen;
}

void fill(std::vector<uint8_t>& image, const uint8_t colour[3]) {
  for (size_t i = 0; i + 2 < image.size(); i += kSheetBytesPerPixel) {
    image[i] = colour[0];
    image[i + 1] = colour[1];
    image[i + 2] = colour[2];
  }
}

}  // namespace

void runGallery(const GalleryJob& job) {
  if (job.columns < 1 || job.columns > 16) throw usageError("--columns must be 1 to 16");
  if (job.frames < job.columns) throw usageError("--frames must be at least --columns");

  // Every plug-in found, each name once (the first folder wins).
  std::vector<std::unique_ptr<PluginLibrary>> libraries;
  std::set<std::string> seen;
  for (const std::string& dir : job.dirs) {
    for (const std::string& path : pluginFilesIn(dir)) {
      const std::string file = path.substr(path.rfind('/') + 1);
      if (!seen.insert(file).second) continue;
      try {
        auto library = std::make_unique<PluginLibrary>(path);
        if (library->isEffect()) libraries.push_back(std::move(library));
      } catch (const HostError& error) {
        std::fprintf(stderr, "qelfx: skipped %s\n", error.what());
      }
    }
  }
  if (libraries.empty()) throw HostError("no plug-ins found for the gallery");

  const int bytesPerPixel = 4;
  const std::vector<long> chosen = chosenFrames(job.frames, job.columns);
  OutputFile output(job.output);

  // The input is decoded once and replayed for every plug-in.
  std::vector<std::vector<uint8_t>> inputFrames;
  {
    InputClip clip = openInput(job.input, job.tileWidth, job.tileHeight, bytesPerPixel, job.frames);
    const size_t bytes = static_cast<size_t>(clip.width) * clip.height * bytesPerPixel;
    std::vector<uint8_t> frame(bytes);
    while (static_cast<long>(inputFrames.size()) < job.frames && clip.source->read(frame.data())) {
      inputFrames.push_back(frame);
    }
    if (inputFrames.empty()) throw HostError("the input has no frames");
  }
  // Replays the decoded input, holding its last frame.
  class Replay : public FrameSource {
   public:
    explicit Replay(const std::vector<std::vector<uint8_t>>& frames) : frames_(frames) {}
    bool read(uint8_t* frame) override {
      const auto& source = frames_[std::min(next_++, frames_.size() - 1)];
      std::memcpy(frame, source.data(), source.size());
      return true;
    }
    long frameCount() const override { return -1; }

   private:
    const std::vector<std::vector<uint8_t>>& frames_;
    size_t next_ = 0;
  };

  std::vector<Row> rows;
  Row inputRow{"input", {}};
  for (long index : chosen) {
    inputRow.tiles.push_back(inputFrames[std::min<size_t>(index, inputFrames.size() - 1)]);
  }
  rows.push_back(std::move(inputRow));
  for (const auto& library : libraries) {
    Row row{library->identity().name, {}};
    InputClip clip;
    clip.source = std::make_unique<Replay>(inputFrames);
    clip.width = job.tileWidth;
    clip.height = job.tileHeight;
    clip.frames = job.frames;
    clip.expected = job.frames;
    // The plug-ins may draw from the C library's shared random generator; each row starts
    // from its initial state, as a render in a fresh qelfx process does.
    std::srand(1);
    Progress progress(library->identity().name, job.frames, isatty(STDERR_FILENO) != 0);
    try {
      processClip(
          *library, clip, bytesPerPixel, false, {},
          [&](long index, const uint8_t* frame) {
            for (long want : chosen) {
              if (want == index) {
                row.tiles.emplace_back(frame, frame + inputFrames[0].size());
              }
            }
          },
          progress);
    } catch (const HostError& error) {
      if (error.status() != kExitFailure) throw;
      std::fprintf(stderr, "qelfx: %s: %s\n", library->identity().name.c_str(), error.what());
      row.label += " (failed)";
      row.tiles.clear();
    }
    rows.push_back(std::move(row));
  }

  // Layout: a label column, then the tiles; a header row names the frames.
  size_t longestLabel = 0;
  for (const Row& row : rows) longestLabel = std::max(longestLabel, row.label.size());
  const int labelWidth = textWidth(std::string(longestLabel, 'M'), kLabelScale);
  const int headerHeight = kGlyphHeight * kHeaderScale + kMargin;
  const int left = kMargin + labelWidth + kMargin;
  const int sheetWidth = left + job.columns * (job.tileWidth + kMargin);
  const int sheetHeight =
      kMargin + headerHeight + static_cast<int>(rows.size()) * (job.tileHeight + kMargin);
  std::vector<uint8_t> sheet(static_cast<size_t>(sheetWidth) * sheetHeight * kSheetBytesPerPixel);
  fill(sheet, kBackground);
  for (int c = 0; c < job.columns; ++c) {
    drawText(sheet.data(), sheetWidth, sheetHeight, kSheetBytesPerPixel,
             left + c * (job.tileWidth + kMargin), kMargin,
             "frame " + std::to_string(chosen[c] + 1), kHeaderScale, kHeaderColour);
  }
  for (size_t r = 0; r < rows.size(); ++r) {
    const int top = kMargin + headerHeight + static_cast<int>(r) * (job.tileHeight + kMargin);
    drawText(sheet.data(), sheetWidth, sheetHeight, kSheetBytesPerPixel, kMargin,
             top + (job.tileHeight - kGlyphHeight * kLabelScale) / 2, rows[r].label, kLabelScale,
             kLabelColour);
    for (size_t c = 0; c < rows[r].tiles.size(); ++c) {
      const uint8_t* tile = rows[r].tiles[c].data();
      const int x0 = left + static_cast<int>(c) * (job.tileWidth + kMargin);
      for (int y = 0; y < job.tileHeight; ++y) {
        uint8_t* to =
            sheet.data() + (static_cast<size_t>(top + y) * sheetWidth + x0) * kSheetBytesPerPixel;
        const uint8_t* from = tile + static_cast<size_t>(y) * job.tileWidth * bytesPerPixel;
        for (int x = 0; x < job.tileWidth; ++x) {
          to[x * 3] = from[x * 4];
          to[x * 3 + 1] = from[x * 4 + 1];
          to[x * 3 + 2] = from[x * 4 + 2];
        }
      }
    }
  }
  writePng(output.temporaryPath(), sheet.data(), sheetWidth, sheetHeight, kSheetBytesPerPixel);
  output.commit();
}

}  // namespace qelfx

// `qelfx gallery`: every plug-in over the same input, composed into one labelled contact
// sheet (a row per plug-in, a few frames across, the input itself on the first row).
#pragma once

#include <string>
#include <vector>

namespace qelfx {

struct GalleryJob {
  std::string input;   // empty: the built-in picture
  std::string output;  // a .png file
  std::vector<std::string> dirs;
  int tileWidth = 192;
  int tileHeight = 108;
  long frames = 48;
  int columns = 4;
};

void runGallery(const GalleryJob& job);

}  // namespace qelfx

#include "host/png_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/host_error.h"

namespace qelfx {

namespace {

// Writes the PNG stream; false after a libpng error (reported through `error`).
bool writeStream(FILE* file, const std::vector<png_bytep>& rows, int width, int height,
                 int bytesPerPixel, std::string& error) {
  png_structp png = png_create_write_struct(
      PNG_LIBPNG_VER_STRING, &error,
      [](png_structp failing, png_const_charp message) {
        *static_cast<std::string*>(png_get_error_ptr(failing)) = message;
        png_longjmp(failing, 1);
      },
      nullptr);
  if (!png) {
    error = "cannot start libpng";
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (error.empty()) error = "libpng failed";
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  if (bytesPerPixel == 4) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the alpha byte
  png_write_image(png, const_cast<png_bytepp>(rows.data()));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void writePng(const std::string& path, const uint8_t* pixels, int width, int height,
              int bytesPerPixel) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw HostError("cannot write " + path + ": " + std::strerror(errno));
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  const size_t stride = static_cast<size_t>(width) * bytesPerPixel;
  for (int y = 0; y < height; ++y) rows[y] = const_cast<png_bytep>(pixels + y * stride);
  std::string error;
  const bool written = writeStream(file, rows, width, height, bytesPerPixel, error);
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  const int savedErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written) throw HostError("cannot write " + path + ": " + error);
  if (!flushed || !closed) {
    throw HostError("cannot write " + path + ": " + std::strerror(savedErrno ? savedErrno : EIO));
  }
}

}  // namespace qelfx

#include "ui/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

// libjpeg's default error handler ends the process; this one jumps back.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

// Warnings (corrupt or premature end of data) are counted, not printed.
void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ++cinfo->err->num_warnings;
}

// Decodes into out; false on any error or warning. Kept apart from DecodeJpeg
// so that no object with a destructor lives across the setjmp.
bool Decode(const unsigned char* data, std::size_t size, int& width, int& height,
            unsigned char* (*grow)(void*, std::size_t), void* target) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.base);
  err.base.error_exit = OnError;
  err.base.emit_message = OnMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width);
  height = static_cast<int>(cinfo.output_height);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  unsigned char* pixels = grow(target, stride * static_cast<std::size_t>(height));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  const bool clean = err.base.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return clean;
}

unsigned char* Grow(void* target, std::size_t bytes) {
  auto* rgb = static_cast<std::vector<unsigned char>*>(target);
  rgb->assign(bytes, 0);
  return rgb->data();
}

}  // namespace

RgbPicture DecodeJpeg(const unsigned char* data, std::size_t size) {
  RgbPicture picture;
  if (data == nullptr || size == 0) return picture;
  if (!Decode(data, size, picture.width, picture.height, Grow, &picture.rgb) ||
      picture.width <= 0 || picture.height <= 0) {
    return RgbPicture{};
  }
  return picture;
}

// Baseline JPEG decoding with the system's own decoder (Windows Imaging
// Component).
#include "ui/jpeg_picture.h"

#include <windows.h>
#include <wincodec.h>

namespace {

// Releases a COM interface when it goes out of scope.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** operator&() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// COM for this thread while it lives; undone only if this call started it.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

// Whether the marker after 0xFF may stand between the segments of a JPEG
// stream (every marker but the reserved and the stand-alone ones).
bool SegmentMarker(unsigned char m) {
  return m >= 0xC0 && m <= 0xFE && !(m >= 0xD0 && m <= 0xD8);
}

// Whether the bytes form a whole JPEG stream: start of image, segments of
// the lengths they state, entropy-coded data containing only stuffed bytes
// and restart markers, and an end of image. The system decoder fills
// missing or damaged data with grey without an error; this catches a cut or
// damaged file instead.
bool WholeJpegStream(const unsigned char* data, std::size_t size) {
  if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  std::size_t i = 2;
  bool scan = false;
  while (i + 1 < size) {
    if (data[i] != 0xFF) {
      if (!scan) return false;
      ++i;
      continue;
    }
    const unsigned char m = data[i + 1];
    if (scan && (m == 0x00 || (m >= 0xD0 && m <= 0xD7))) {
      i += 2;
      continue;
    }
    if (m == 0xFF) {  // fill byte before a marker
      ++i;
      continue;
    }
    if (m == 0xD9) return scan;
    if (!SegmentMarker(m) || i + 3 >= size) return false;
    const std::size_t length = (static_cast<std::size_t>(data[i + 2]) << 8) | data[i + 3];
    if (length < 2 || i + 2 + length > size) return false;
    i += 2 + length;
    if (m == 0xDA) scan = true;
  }
  return false;
}

}  // namespace

RgbPicture DecodeJpeg(const unsigned char* data, std::size_t size) {
  if (data == nullptr || !WholeJpegStream(data, size) || size > 0xFFFFFFFFu) return {};
  ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICBitmapSource> rgb;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&factory))) ||
      FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size))) ||
      FAILED(factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &decoder)) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, &frame)) ||
      FAILED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame.get(), &rgb)) ||
      FAILED(rgb->GetSize(&width, &height)) || width == 0 || height == 0 || width > 16384 || height > 16384) {
    return {};
  }
  RgbPicture picture;
  picture.width = static_cast<int>(width);
  picture.height = static_cast<int>(height);
  const UINT stride = width * 3;
  picture.rgb.resize(static_cast<std::size_t>(stride) * height);
  if (FAILED(rgb->CopyPixels(nullptr, stride, static_cast<UINT>(picture.rgb.size()), picture.rgb.data()))) {
    return {};
  }
  // The decoder gives blue, green, red; the picture is red, green, blue.
  for (std::size_t i = 0; i + 2 < picture.rgb.size(); i += 3) std::swap(picture.rgb[i], picture.rgb[i + 2]);
  return picture;
}

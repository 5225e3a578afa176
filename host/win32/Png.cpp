// PNG through the system's imaging component (WIC). The decoder reads the
// checked chunks of PngStream (Png.h), never the file itself, so the
// picture's size and every chunk are judged before it has seen any of them.
// The encoder writes through a stream of our own over the shared code's sink,
// so that a failed write keeps the system's reason.
#include "Png.h"

#include "Files.h"
#include "win32/Errno.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

template <class T> using Com = Microsoft::WRL::ComPtr<T>;

// The imaging factory. COM is started once per process and ended at exit,
// apartment-threaded, as a program that shows windows wants it; WIC's objects
// work in either kind.
HRESULT MakeFactory(IWICImagingFactory **factory) {
  static const struct Session {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ~Session() {
      if (SUCCEEDED(hr))
        CoUninitialize();
    }
  } session;
  if (FAILED(session.hr) && session.hr != RPC_E_CHANGED_MODE)
    return CO_E_NOTINITIALIZED;
  return CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IWICImagingFactory, reinterpret_cast<void **>(factory));
}

// The IStream that WIC reads or writes: the checked chunks of a PngStream,
// read only, or the encoder's sink, written only, whose error is the sink's.
// It lives on its user's stack, so it must outlive every object it is handed
// to; reference counts are kept only for COM's rules.
class StackStream final : public IStream {
public:
  explicit StackStream(PngStream *in) : in_(in) {}
  explicit StackStream(PngSink *out) : out_(out) {}

  STDMETHODIMP Read(void *data, ULONG size, ULONG *read) override {
    if (!in_)
      return STG_E_ACCESSDENIED;
    const size_t got = in_->Read(data, size);
    if (read)
      *read = static_cast<ULONG>(got);
    return got < size && in_->error != 0 ? STG_E_READFAULT : S_OK;
  }
  // A failed write or seek keeps its errno value in the sink, which is the
  // one reported, whatever the encoder makes of the result.
  STDMETHODIMP Write(const void *data, ULONG size, ULONG *written) override {
    if (!out_)
      return STG_E_ACCESSDENIED;
    const bool put = out_->Write(data, size);
    if (written)
      *written = put ? size : 0;
    return put ? S_OK : STG_E_WRITEFAULT;
  }
  STDMETHODIMP QueryInterface(REFIID iid, void **out) override {
    if (!out)
      return E_POINTER;
    const bool ours = iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream;
    *out = ours ? static_cast<IStream *>(this) : nullptr;
    if (ours)
      AddRef();
    return ours ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
  STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&refs_); }
  // What WIC never asks of a stream it reads or writes straight through.
  using Size64 = ULARGE_INTEGER;
  STDMETHODIMP SetSize(Size64) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream *, Size64, Size64 *, Size64 *) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(Size64, Size64, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP UnlockRegion(Size64, Size64, DWORD) override { return STG_E_INVALIDFUNCTION; }
  STDMETHODIMP Clone(IStream **) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return S_OK; }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *to) override {
    if (origin > STREAM_SEEK_END)
      return STG_E_INVALIDFUNCTION;
    const uint64_t base = origin == STREAM_SEEK_SET   ? 0
                          : origin == STREAM_SEEK_CUR ? Position()
                                                      : Size();
    const int64_t at = static_cast<int64_t>(base) + move.QuadPart;
    if (at < 0 || (out_ && !out_->Seek(static_cast<uint64_t>(at))))
      return STG_E_SEEKERROR;
    if (in_)
      in_->position = static_cast<uint64_t>(at);
    if (to)
      to->QuadPart = static_cast<ULONGLONG>(at);
    return S_OK;
  }
  STDMETHODIMP Stat(STATSTG *stat, DWORD) override {
    if (!stat)
      return E_POINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = Size();
    return S_OK;
  }

private:
  uint64_t Position() const { return in_ ? in_->position : out_->position; }
  uint64_t Size() const { return in_ ? in_->size : out_->size; }

  PngStream *in_ = nullptr;
  PngSink *out_ = nullptr;
  LONG refs_ = 1;
};

// Why WIC could not write the picture, as an errno value: the sink's own
// where writing the file failed (`sinkError`), else the result's. Lack of
// memory goes up as bad_alloc, as everywhere in tga-host. Always false.
bool WriteFailure(HRESULT hr, int sinkError, int *error) {
  if (hr == E_OUTOFMEMORY)
    throw std::bad_alloc();
  if (sinkError != 0)
    *error = sinkError;
  else if (HRESULT_FACILITY(hr) == FACILITY_WIN32)
    *error = safe_write::ErrnoOf(HRESULT_CODE(hr));
  else
    *error = hr == STG_E_INSUFFICIENTMEMORY ? ENOMEM
             : hr == STG_E_MEDIUMFULL       ? ENOSPC
             : hr == STG_E_ACCESSDENIED     ? EACCES
                                            : EIO;
  return false;
}

// Why WIC could not read the picture, in a few words: the file's own error
// where reading it failed (`streamError`), else what the decoder says. The
// file's chunks have been checked by then, so a decoder that does not
// recognise the file found the picture data damaged. Lack of memory
// goes up as bad_alloc, as everywhere in tga-host.
std::string ReadFailure(HRESULT hr, int streamError) {
  if (hr == E_OUTOFMEMORY)
    throw std::bad_alloc();
  if (streamError != 0)
    return ErrorText(streamError);
  if (hr == WINCODEC_ERR_COMPONENTNOTFOUND)
    return "this system has no PNG decoder";
  if (hr == WINCODEC_ERR_UNKNOWNIMAGEFORMAT || hr == WINCODEC_ERR_BADHEADER ||
      hr == WINCODEC_ERR_BADIMAGE || hr == WINCODEC_ERR_BADSTREAMDATA ||
      hr == WINCODEC_ERR_STREAMREAD || hr == WINCODEC_ERR_FRAMEMISSING || hr == E_FAIL)
    return "the PNG data is damaged or incomplete";
  if (hr == WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT || hr == WINCODEC_ERR_UNSUPPORTEDOPERATION)
    return "a kind of PNG the system's decoder does not read";
  char text[80];
  std::snprintf(text, sizeof text, "the system's PNG decoder failed (error 0x%08lX)",
                static_cast<unsigned long>(hr));
  return text;
}

} // namespace

bool DecodePng(PngStream &png, RgbPicture *picture, std::string *error,
               const ReadProgress &progress) {
  const uint32_t width = png.width, height = png.height;
  Com<IWICImagingFactory> factory;
  if (FAILED(MakeFactory(factory.GetAddressOf()))) {
    *error = "the system's imaging component cannot be started";
    return false;
  }

  const auto failed = [error](HRESULT hr, int streamError) {
    *error = ReadFailure(hr, streamError);
    return false;
  };
  StackStream stream(&png);
  Com<IWICBitmapDecoder> decoder;
  Com<IWICBitmapFrameDecode> frame;
  Com<IWICFormatConverter> converter;
  UINT frameWidth = 0, frameHeight = 0;
  WICPixelFormatGUID format = {};
  HRESULT hr;
  if (FAILED(
          hr = factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, decoder.GetAddressOf())) ||
      FAILED(hr = decoder->Initialize(&stream, WICDecodeMetadataCacheOnDemand)) ||
      FAILED(hr = decoder->GetFrame(0, frame.GetAddressOf())) ||
      FAILED(hr = frame->GetSize(&frameWidth, &frameHeight)) ||
      FAILED(hr = frame->GetPixelFormat(&format)) ||
      FAILED(hr = frameWidth != width || frameHeight != height ? WINCODEC_ERR_BADHEADER : S_OK))
    return failed(hr, png.error);

  // The frame's own formats that keep 16 bits a channel are read as they
  // are; every other format goes through a converter to 8-bit BGRA.
  const int channels = IsEqualGUID(format, GUID_WICPixelFormat16bppGray)   ? 1
                       : IsEqualGUID(format, GUID_WICPixelFormat48bppRGB)  ? 3
                       : IsEqualGUID(format, GUID_WICPixelFormat64bppRGBA) ? 4
                                                                           : 0;
  IWICBitmapSource *source = frame.Get();
  if (channels == 0) {
    // Palettes, grey of fewer bits and 8-bit colour: 8-bit BGRA holds them
    // exactly, a transparent colour as alpha.
    if (FAILED(hr = factory->CreateFormatConverter(converter.GetAddressOf())) ||
        FAILED(hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA,
                                          WICBitmapDitherTypeNone, nullptr, 0.0,
                                          WICBitmapPaletteTypeCustom)))
      return failed(hr, 0);
    source = converter.Get();
  }
  // A row of 16-bit RGBA must fit the decoder's 32-bit sizes.
  if (uint64_t(width) * 8 > UINT32_MAX || !picture->Allocate(width, height)) {
    *error = "too large for this computer's memory addresses";
    return false;
  }
  // A row at a time: the decoder's own buffers aside, memory is the picture
  // and one row.
  const UINT stride = channels == 0 ? width * 4 : width * 2 * channels;
  std::vector<BYTE> line(stride);
  for (uint32_t y = 0; y < height; ++y) {
    const WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(width), 1};
    if (FAILED(hr = source->CopyPixels(&rect, stride, stride, line.data())))
      return failed(hr, png.error);
    // 8-bit BGRA, or the frame's own 16-bit little-endian channels.
    FlattenRow(line.data(), width, channels == 0 ? 8 : 16, channels == 0 ? 4 : channels,
               channels == 0, picture->Row(y));
    if (progress)
      progress(y + 1, height);
  }
  return true;
}

bool EncodePng(PngSink &sink, uint32_t width, uint32_t height, const RowSource &row,
               PngFilter filter, int *error) {
  if (uint64_t(width) * 3 > UINT32_MAX) {
    *error = EFBIG;
    return false;
  }
  StackStream stream(&sink);
  Com<IWICImagingFactory> factory;
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  HRESULT hr;
  if (FAILED(hr = MakeFactory(factory.GetAddressOf())) ||
      FAILED(
          hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf())) ||
      FAILED(hr = encoder->Initialize(&stream, WICBitmapEncoderNoCache)) ||
      FAILED(hr = encoder->CreateNewFrame(frame.GetAddressOf(), options.GetAddressOf())))
    return WriteFailure(hr, sink.error, error);
  if (filter == PngFilter::None) {
    // The encoder's only setting that bears on size and time; its default
    // filtering stays for every other picture.
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(L"FilterOption");
    VARIANT value = {};
    value.vt = VT_UI1;
    value.bVal = WICPngFilterNone;
    // An encoder without the option writes as it would anyway.
    options->Write(1, &option, &value);
  }
  if (FAILED(hr = frame->Initialize(options.Get())) || FAILED(hr = frame->SetSize(width, height)) ||
      FAILED(hr = frame->SetPixelFormat(&format)))
    return WriteFailure(hr, sink.error, error);
  const bool bgr = IsEqualGUID(format, GUID_WICPixelFormat24bppBGR);
  if (!bgr && !IsEqualGUID(format, GUID_WICPixelFormat24bppRGB))
    return WriteFailure(WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT, sink.error, error);
  // Rows go to the encoder one at a time, so memory stays one row.
  const UINT stride = width * 3;
  std::vector<uint8_t> line(stride);
  for (uint32_t y = 0; y < height; ++y) {
    if (!row(y, line.data())) {
      *error = EINTR;
      return false;
    }
    if (bgr)
      for (size_t i = 0; i < stride; i += 3)
        std::swap(line[i], line[i + 2]);
    if (FAILED(hr = frame->WritePixels(1, stride, stride, line.data())))
      return WriteFailure(hr, sink.error, error);
  }
  if (FAILED(hr = frame->Commit()) || FAILED(hr = encoder->Commit()))
    return WriteFailure(hr, sink.error, error);
  return true;
}

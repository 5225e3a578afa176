// Unit Import: file check, information text, full and preview images.
#include "TargaPlugin.h"
#include "Boundary.h"
#include "Dtarga.h"

#include <cstdlib>
#include <optional>

namespace {

const int32_t kInterfaceVersion = 0x00010000;
// "イメージファイルでは、ないようです。" in code page 932.
const char kNotAnImage[] = "\x83"
                           "C\x83\x81\x81[\x83W\x83t\x83@\x83"
                           "C\x83\x8b\x82\xc5\x82\xcd\x81"
                           "A\x82\xc8\x82\xa2\x82\xe6\x82\xa4\x82\xc5\x82\xb7\x81"
                           "B";

// Runs a decoder on the file and, when it succeeds, hands its blocks to a new
// record. Null when the file cannot be read or memory runs out; the decoder
// releases whatever it still holds either way.
HostImage *CreateRecord(TTargaDecoder &decoder, const char *path) {
  if (!decoder.Decode(tlp::PathText(path)))
    return nullptr;
  // The host never frees the record through us: it comes from the C heap,
  // zero-filled, like the blocks it carries.
  auto *image = static_cast<HostImage *>(allocation::Calloc(sizeof(HostImage), 1));
  if (!image)
    return nullptr;
  image->Kind = decoder.TrueColor ? TLP_KIND_FULL24 : TLP_KIND_INDEXED8;
  image->Width = static_cast<uint32_t>(decoder.OutWidth);
  image->Height = static_cast<uint32_t>(decoder.OutHeight);
  image->BytesPerRow = decoder.RowBytes;
  image->Pixels = decoder.TakePixels();
  image->PaletteCount = static_cast<uint32_t>(decoder.PaletteCount);
  image->Palette = decoder.TakePalette();
  return image;
}

} // namespace

extern "C" {

void TLP_CALL IMPORT_InterfaceVersion(int32_t *version) { *version = kInterfaceVersion; }

int32_t TLP_CALL IMPORT_SupportedExtensions(InfoCallback callback) { return callback("tga"); }

int32_t TLP_CALL IMPORT_ValidFileCheck(const char *path) {
  return tlp::Guarded(0, [&] {
    TTargaDecoder decoder;
    decoder.HeaderOnly = true;
    return decoder.Decode(tlp::PathText(path)) ? 1 : 0;
  });
}

void TLP_CALL IMPORT_ImageInformation(const char *path, InfoCallback callback) {
  // The text belongs to the decoder, which outlives the guard so that the
  // host's callback runs outside it: called once, and whatever it throws is
  // the host's own.
  std::optional<TTargaDecoder> decoder;
  const bool accepted = tlp::Guarded(false, [&] {
    decoder.emplace();
    decoder->HeaderOnly = true;
    return decoder->Decode(tlp::PathText(path));
  });
  callback(accepted ? decoder->InfoText.c_str() : kNotAnImage);
}

void TLP_CALL IMPORT_CreateImage(const char *path, HostImage **image) {
  *image = nullptr;
  *image = tlp::Guarded<HostImage *>(nullptr, [&] {
    TTargaDecoder decoder;
    return CreateRecord(decoder, path);
  });
}

void TLP_CALL IMPORT_CreatePreviewImage(const char *path, int32_t boxWidth, int32_t boxHeight,
                                        HostImage **image) {
  *image = nullptr;
  *image = tlp::Guarded<HostImage *>(nullptr, [&] {
    TTargaDecoder decoder;
    decoder.Preview = true;
    decoder.PreviewMaxWidth = boxWidth;
    decoder.PreviewMaxHeight = boxHeight;
    return CreateRecord(decoder, path);
  });
}

void TLP_CALL IMPORT_FreeImage(HostImage *image) {
  if (!image)
    return;
  // The record itself stays: it is the host's, and its fields keep their values.
  if (image->Pixels)
    std::free(image->Pixels);
  if (image->Palette)
    std::free(image->Palette);
}

} // extern "C"

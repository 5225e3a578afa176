// Unit Dtarga: reads one Targa file and produces its header facts and
// information text, or a top-down pixel block of 24-bit blue-green-red pixels
// or 8-bit palette indices, with the palette when the file carries one.
//
// One decoder serves one call: construct, set the mode fields, Decode, read
// the results, take the blocks, destroy.
#pragma once

#include "ByteSource.h"
#include "InputBuffer.h"
#include "TargaHeader.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TTargaDecoder {
public:
  TTargaDecoder();
  ~TTargaDecoder();
  TTargaDecoder(const TTargaDecoder &) = delete;
  TTargaDecoder &operator=(const TTargaDecoder &) = delete;

  // The whole run. True when the file was opened and its header, ID field
  // and colour map were accepted (and, outside header-only mode, the pixel
  // block could be allocated). Missing pixel data is not a failure: it reads
  // as bytes of 255. Status says why a run failed.
  bool Decode(const std::string &fileName);
  // The same run over bytes from `source` (memory, a stream, short reads);
  // FileName stays empty. The source must outlive the call.
  bool Decode(TByteSource &source);

  // Hand the blocks over: the caller now owns them and releases them with
  // free(). The decoder forgets them.
  uint8_t *TakePixels();
  uint8_t *TakePalette();

  // Mode fields, set by the caller before Decode.
  bool HeaderOnly = false;        // stop after the header, ID field and colour-map checks
  bool Preview = false;           // reduce by the largest useful power-of-two step
  int32_t PreviewMaxWidth = 0;    // preview box; compared as unsigned, 0 taken as 1
  int32_t PreviewMaxHeight = 0;
  size_t MaxBlockBytes = SIZE_MAX; // a larger pixel block fails the run
  bool PixelByPixel = false;       // decode through the one-pixel-at-a-time path only

  // Results. InfoText and Status are set by every run; the rest after a true
  // result. Header holds the 18 bytes once they are read.
  std::string InfoText;
  targa::TTargaStatus Status = targa::TTargaStatus::Accepted;
  targa::TTargaHeader Header;
  std::string FileName;
  int32_t FileWidth = 0;
  int32_t FileHeight = 0;
  int32_t OutWidth = 0;
  int32_t OutHeight = 0;
  int32_t OutBits = 0;
  int32_t RowBytes = 0;
  bool TrueColor = false;
  int32_t PixelBytes = 0;
  int32_t PixelBits = 0;
  bool RunLength = false;
  bool Grey = false;
  bool BottomUp = false;
  bool Indexed = false;
  int32_t PaletteCount = 0;
  int32_t OutBytes = 0;
  int32_t Step = 1;
  int32_t StepShift = 0;
  int32_t RowMask = 0;

  // Bytes of the data consumed or passed over so far (header included):
  // where reading stopped, whatever the source.
  int64_t BytesConsumed() const { return Input.BytesConsumed(); }

private:
  bool Run();
  bool OpenFile();
  int32_t ReadBytes(uint8_t *buffer, int32_t count) { return Input.ReadBytes(buffer, count); }
  uint8_t ReadByte() { return Input.ReadByte(); }
  bool Fail(targa::TTargaStatus status);

  // ReadHeader's stages, in their order.
  bool ReadHeader();
  bool ReadHeaderBytes();
  void AppendInfoLines();
  bool CheckImageFields();
  void ChoosePreviewStep();
  bool SizePixelBlock();
  void SkipIdField();
  bool TakeColorMap();

  bool ReadColorMap(int32_t count, int32_t entryBits);
  bool ReadImage();
  bool ReadStoredImage();
  template <class Conv> void ReadBands();
  template <class Conv> bool ReadShrinkingBands();
  static void SwapRows(uint8_t *a, uint8_t *b, size_t bytes);
  void CloseFile();

  // Pixel stream, one stored pixel at a time.
  void ReadPixelValue();
  void NextPixel();
  void FetchRawPixel();
  // The one place a run-length packet's state is set: `packet` has begun
  // and `taken` of its pixels are dealt with; a run's value is in RunPixel.
  // Every path below decodes a packet's header with targa::PacketOf.
  void Enter(targa::TPacket packet, int32_t taken) {
    if (packet.Run()) {
      RepeatLeft = packet.Count() - taken;
      RawLeft = 0;
    } else {
      RawLeft = packet.Count() - taken;
    }
  }
  void FetchPackedPixel(bool skip);
  void SkipPixels(int64_t count);
  template <class Conv> void SkipPacked(int64_t count);
  template <class Conv> void TakePackedPixel(uint8_t *d);

  // Rows.
  void ConvertRow();
  template <class Conv> [[gnu::noinline]] void ConvertRowWith();
  void NextBottomUpRow();
  template <class Conv> void ConvertRowByPixel();
  template <class Conv> void ConvertRowFast();
  template <class Conv> void ConvertPreviewRow();
  template <class Conv> void ConvertPackedPreviewRow();
  template <class Conv> void RawPixels(uint8_t *dst, int32_t count);
  template <class Conv> int32_t PacketsInPlace(uint8_t *dst, int32_t count);

  TFileSource File;              // the named file of a run by path
  TByteSource *Source = nullptr; // where this run's bytes come from
  uint8_t *Pixels = nullptr;     // the pixel block, malloc'ed; ours until TakePixels
  uint8_t *Palette = nullptr;    // 4 bytes per entry, malloc'ed; ours until TakePalette
  uint8_t *RowBuffer = nullptr;  // the row being filled, inside Pixels
  // Bottom-up files are decoded straight into the pixel block, its rows
  // filled from the last: the whole-image buffer is the block itself.
  uint8_t *ImageBuffer = nullptr;
  bool ImageDecoded = false;
  int32_t RowsDelivered = 0;
  size_t BlockBytes = 0;         // size of the pixel block, checked in ReadHeader

  int32_t RawLeft = 0;           // values still to come in the current raw packet
  int32_t RepeatLeft = 0;        // repetitions still to come of the current run
  int64_t PendingSkip = 0;       // uncompressed bytes to pass over before the next read
  int32_t SourceRow = 0;
  int32_t SourceColumn = 0;
  int64_t PixelsLeft = 0;        // delivered pixels still to come
  uint8_t Pixel[4] = {0, 0, 0, 0};    // the pixel just delivered, bytes in file order
  uint8_t RunPixel[4] = {0, 0, 0, 0}; // the value of the current run packet

  TInputBuffer Input;            // the run's bytes, from Source
};

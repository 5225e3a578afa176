#include "Input.h"

#include "Files.h"
#include "Progress.h"
#include "System.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// What a file holds of the `claimed` bytes of pixel data its header claims:
// for an uncompressed file exactly; for run-length data at most what its
// bytes can describe, 128 pixels for a packet's header and one pixel.
uint64_t Held(const targa::TTargaHeader &h, uint64_t fileSize, uint64_t claimed) {
  const uint64_t bytes = uint64_t(h.PixelBytes());
  const uint64_t map = h.ColorMapType == targa::kColorMapPresent
                           ? uint64_t(h.ColorMapLen) * ((h.ColorMapEntrySize + 7u) / 8)
                           : 0;
  const uint64_t start = targa::kHeaderSize + h.IdLength + map;
  const uint64_t there = fileSize > start ? fileSize - start : 0;
  return std::min(h.RunLength() ? (there + bytes) / (bytes + 1) * 128 * bytes : there, claimed);
}

// 768000000 as "768,000,000".
std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

} // namespace

InputFile Examine(const std::string &path) {
  InputFile input;
  input.path = path;
  int error = 0;
  const FileKind kind = KindOf(path, &error);
  if (kind != FileKind::Regular) {
    input.unreadable = kind == FileKind::Other    ? "it is not a regular file"
                       : kind == FileKind::Folder ? ErrorText(EISDIR)
                                                  : ErrorText(error);
    return input;
  }
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    input.unreadable = ErrorText(errno);
    return input;
  }
  input.headBytes = std::fread(input.head, 1, sizeof input.head, f);
  input.size = FileSize(f);
  std::fclose(f);
  return input;
}

bool InputFile::IsPng() const {
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return headBytes >= 8 && std::memcmp(head, kPng, 8) == 0;
}

bool WithinLimits(const std::string &path, uint32_t width, uint32_t height, uint64_t maxPixels,
                  std::string *error) {
  const std::string is = "'" + path + "' is " + std::to_string(width) + " x " + std::to_string(height);
  const uint64_t pixels = uint64_t(width) * height;
  if (width > kMaxTargaSide || height > kMaxTargaSide)
    *error = is + "; a Targa file holds at most " + std::to_string(kMaxTargaSide) + " x " +
             std::to_string(kMaxTargaSide);
  else if (pixels > maxPixels)
    *error = is + ", " + std::to_string(pixels) + " pixels, more than the limit of " +
             std::to_string(maxPixels) + " (--max-pixels N sets another)";
  else
    return true;
  return false;
}

bool PngCanHold(const InputFile &input, uint32_t width, uint32_t height, std::string *error) {
  if (input.size < 0)
    return true;
  const uint64_t size = static_cast<uint64_t>(input.size);
  const uint64_t rows = uint64_t(height) * (1 + (uint64_t(width) + 7) / 8);
  if (rows <= (size + 1) * 1032)
    return true;
  *error = "'" + input.path + "' claims " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, which no PNG file of " + Grouped(size) + " bytes can hold";
  return false;
}

std::string RefusalReason(const InputFile &input, bool decoding) {
  if (input.headBytes < targa::kHeaderSize)
    return targa::Reason(targa::TTargaStatus::TooShort, {});
  // Its header bytes would make a nonsense reason ("colour-map type 80").
  if (input.IsPng())
    return std::string(targa::kNotTarga) + " but a PNG picture; 'tga-host export' makes a Targa file of it";
  const targa::TTargaHeader header = targa::TTargaHeader::Parse(input.head);
  const targa::TTargaStatus status = targa::Check(header, decoding);
  if (status != targa::TTargaStatus::Accepted)
    return targa::Reason(status, header);
  // The plug-in's check reads nothing but the header, which passes: it did
  // not get the bytes tga-host read.
  if (!decoding)
    return targa::Reason(targa::TTargaStatus::CannotOpen, header) +
           " by the plug-in, though its header passes every check";
  // The picture the plug-in would deliver: what a decode needs at the least.
  const bool mapped = header.BaseType() == targa::kColorMapped;
  const uint64_t needed = uint64_t(header.ImageWidth) * header.ImageHeight * (mapped ? 1 : 3);
  const uint64_t room = MemoryAvailable();
  if (needed > room)
    return targa::Reason(targa::TTargaStatus::OutOfMemory, header) + " (" + Grouped(needed) +
           " bytes; this process can have " + Grouped(room) + " more)";
  return "its header passes every check; the file may have changed meanwhile, or reading it failed";
}

ImportResult ImportTarga(const PluginApi &api, const InputFile &input, const ReadLimits &limits,
                         Imported *imported, std::string *error, std::string *notice,
                         int32_t boxWidth, int32_t boxHeight) {
  const std::string &path = input.path;
  // The plug-in's import tells nothing until it is done.
  Phase decoding("decoding '" + path + "'");
  if (!input.unreadable.empty()) {
    *error = "cannot read '" + path + "': " + input.unreadable;
    return ImportResult::Failed;
  }
  if (api.IMPORT_ValidFileCheck(path.c_str()) != 1) {
    const std::string reason = RefusalReason(input, false);
    const bool notTarga = reason.rfind(targa::kNotTarga, 0) == 0;
    *error = (notTarga ? "'" + path + "' is " : "cannot read '" + path + "': ") + reason;
    return notTarga ? ImportResult::NotTarga : ImportResult::Failed;
  }
  // A preview is read from the whole file as well.
  if (input.headBytes == targa::kHeaderSize) {
    const targa::TTargaHeader header = targa::TTargaHeader::Parse(input.head);
    if (!WithinLimits(path, header.ImageWidth, header.ImageHeight, limits.maxPixels, error))
      return ImportResult::Failed;
    // The plug-in delivers what the file lacks as white: the picture costs
    // what the header claims, whatever the file holds.
    const uint64_t claimed = uint64_t(header.ImageWidth) * header.ImageHeight * uint64_t(header.PixelBytes());
    const uint64_t held = Held(header, input.size > 0 ? static_cast<uint64_t>(input.size) : 0, claimed);
    if (held < claimed) {
      const uint64_t missing = claimed - held;
      const std::string holds = "'" + path + "' holds " + (header.RunLength() ? "at most " : "") +
                                Grouped(held) + " of " + Grouped(claimed) + " bytes of pixel data";
      if (missing > limits.maxMissing) {
        *error = holds + "; the " + Grouped(missing) + " missing, which would read as white, are " +
                 "more than the limit of " + Grouped(limits.maxMissing) +
                 " (--max-missing=BYTES sets another)";
        return ImportResult::Failed;
      }
      *notice = holds + "; the rest reads as white";
    }
  }
  if (boxWidth > 0)
    api.IMPORT_CreatePreviewImage(path.c_str(), boxWidth, boxHeight, &imported->image);
  else
    api.IMPORT_CreateImage(path.c_str(), &imported->image);
  if (!imported->image) {
    *error = "the plug-in could not decode '" + path + "': " + RefusalReason(input, true);
    return ImportResult::Failed;
  }
  decoding.Done();
  return ImportResult::Ok;
}

bool ReadTarga(const char *command, const PluginApi &api, const std::string &path,
               const ReadLimits &limits, Imported *imported, int32_t boxWidth, int32_t boxHeight) {
  std::string error, notice;
  if (ImportTarga(api, Examine(path), limits, imported, &error, &notice, boxWidth, boxHeight) !=
      ImportResult::Ok)
    return Say(command, error) == 0;
  if (!notice.empty())
    Say(command, notice);
  return true;
}

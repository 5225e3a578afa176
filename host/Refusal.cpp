#include "Refusal.h"

#include "Input.h"
#include "TargaHeader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Whether a block as large as the picture the plug-in would deliver can be
// had now: the one thing that tells lack of memory from the other reasons
// a decode fails for.
bool RecordFits(const targa::TTargaHeader &header) {
  const bool mapped = header.BaseType() == targa::kColorMapped;
  const uint64_t bytes = uint64_t(header.ImageWidth) * header.ImageHeight * (mapped ? 1 : 3) + 1;
  if (bytes > SIZE_MAX)
    return false;
  void *block = std::malloc(static_cast<size_t>(bytes));
  std::free(block);
  return block != nullptr;
}

} // namespace

std::string RefusalReason(const std::string &path, bool decoding) {
  uint8_t bytes[targa::kHeaderSize];
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return targa::Reason(targa::TTargaStatus::CannotOpen, {});
  const size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  if (got < sizeof bytes)
    return targa::Reason(targa::TTargaStatus::TooShort, {});
  // Its header bytes would make a nonsense reason ("colour-map type 80").
  if (IsPng(path))
    return "not a Targa file: it is a PNG picture; 'tga-host export' makes a Targa file of it";
  const targa::TTargaHeader header = targa::TTargaHeader::Parse(bytes);
  const targa::TTargaStatus status = targa::Check(header, decoding);
  if (status != targa::TTargaStatus::Accepted)
    return targa::Reason(status, header);
  // The header passes now; only a decode allocates anything.
  if (decoding && !RecordFits(header))
    return targa::Reason(targa::TTargaStatus::OutOfMemory, header);
  return "its header, read again, passes every check; the file may have changed meanwhile, "
         "or reading it failed";
}

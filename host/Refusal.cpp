#include "Refusal.h"

#include "TargaHeader.h"

#include <cstdio>

std::string RefusalReason(const std::string &path, bool decoding) {
  uint8_t bytes[targa::kHeaderSize];
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return targa::Reason(targa::TTargaStatus::CannotOpen, {});
  const size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  if (got < sizeof bytes)
    return targa::Reason(targa::TTargaStatus::TooShort, {});
  const targa::TTargaHeader header = targa::TTargaHeader::Parse(bytes);
  targa::TTargaStatus status = targa::Check(header, decoding);
  if (status == targa::TTargaStatus::Accepted)
    status = targa::TTargaStatus::OutOfMemory;
  return targa::Reason(status, header);
}

#include "Panel.h"

#include <windows.h>

std::string SjisToUtf8(const std::string &sjis) {
  int wn = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
  if (wn <= 0)
    return sjis;
  std::wstring w(static_cast<size_t>(wn), L'\0');
  MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), &w[0], wn);
  int un = WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
  std::string u(static_cast<size_t>(un), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, &u[0], un, nullptr, nullptr);
  return u;
}

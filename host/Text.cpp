#include "Text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

std::string SjisToUtf8(const std::string &sjis) {
  if (sjis.empty())
    return sjis;
#if defined(_WIN32)
  int wn = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), nullptr, 0);
  if (wn <= 0)
    return sjis;
  std::wstring w(static_cast<size_t>(wn), L'\0');
  MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), &w[0], wn);
  int un = WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
  std::string u(static_cast<size_t>(un), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wn, &u[0], un, nullptr, nullptr);
  return u;
#else
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return sjis;
  std::string in = sjis, out(sjis.size() * 3 + 4, '\0');
  char *ip = &in[0], *op = &out[0];
  size_t il = in.size(), ol = out.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == static_cast<size_t>(-1))
    return sjis;
  out.resize(out.size() - ol);
  return out;
#endif
}

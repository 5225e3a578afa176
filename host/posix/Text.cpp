#include "Panel.h"

#include <iconv.h>

std::string SjisToUtf8(const std::string &sjis) {
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
}

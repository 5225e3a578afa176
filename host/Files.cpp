#include "Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

std::string ErrorText(int error) {
  if (error == EISDIR)
    return "it is a folder";
  if (error == safe_write::kInUse)
    return "it is in use by another program";
  if (error == safe_write::kNameChanged)
    return "another file took its name meanwhile";
  return std::strerror(error);
}

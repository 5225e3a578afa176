// Why the plug-in refuses a file, for tga-host's messages.
#pragma once

#include <string>

// The reason in a short phrase, from the file's 18 header bytes and the
// checks the plug-in makes ("not a Targa file: image type 4"); `decoding`
// adds those of a full decode (the colour map's entry size). A header the
// checks accept names lack of memory only where a decode was refused and a
// block of the picture's size cannot be had; otherwise it says that nothing
// wrong is known.
std::string RefusalReason(const std::string &path, bool decoding);

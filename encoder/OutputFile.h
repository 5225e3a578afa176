// The one thing the encoder needs of the platform beyond the C library's
// streams: closing its output file so that a failed write leaves no partial
// image under any name. posix/ and win32/ implement it.
#pragma once

#include <cstdio>
#include <string>

namespace output_file {

// Closes `stream`, opened for writing on `path`, and answers whether the file
// stands complete. When `complete` is false or the close fails, nothing
// under any name holds the partial data: a plain file whose only name is
// `path` is removed; otherwise (a link, a file with other names) every name
// keeps pointing where it pointed and the file is emptied. A device is left
// as it is.
bool Close(std::FILE *stream, const std::string &path, bool complete);

} // namespace output_file

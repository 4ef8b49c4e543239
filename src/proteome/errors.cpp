#include "proteome/errors.h"

#include <cerrno>
#include <cstring>

namespace talvo::proteome {

void ThrowWriteError(const std::string& name) {
  if (errno == EPIPE) throw BrokenPipe();
  ThrowSystemError("error writing " + name);
}

void ThrowSystemError(const std::string& what) {
  throw talvo::Error(what + ": " + strerror(errno));
}

}  // namespace talvo::proteome

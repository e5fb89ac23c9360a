// ir/demangle.cpp - source form of encoded C++ names (abi::__cxa_demangle).
#include "ir/demangle.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>

namespace zor {

bool try_demangle(const char *encoded, std::string &out) {
  if (!encoded || !*encoded || std::strlen(encoded) > kMaxDemangleLength)
    return false;
  int status = 0;
  char *text = abi::__cxa_demangle(encoded, nullptr, nullptr, &status);
  if (status != 0 || !text) {
    std::free(text);
    return false;
  }
  out = text;
  std::free(text);
  return true;
}

std::string demangle(const char *name) {
  std::string out;
  if (name && std::strncmp(name, "_Z", 2) == 0 && try_demangle(name, out))
    return out;
  return name ? name : "";
}

} // namespace zor

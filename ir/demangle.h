// ir/demangle.h - source form of encoded C++ names.
//
// The front end encodes C++ names in the Itanium C++ ABI's scheme; the C++
// run-time's demangler turns them back into source form for the debug dump,
// for messages, and for the reader's special flag of old files.
#pragma once

#include <string>

namespace zor {

// Names longer than this are left as they are (the run-time demangler's cost
// grows quickly with the length of hostile input).
constexpr size_t kMaxDemangleLength = 1024;

// True, with the source form in `out`, when `encoded` is anything the
// run-time demangler understands: an encoded name ("_Z3fooi") or an encoded
// type ("3foo", and also "i" for int).
bool try_demangle(const char *encoded, std::string &out);

// The source form of a symbol name: encoded names ("_Z...") are demangled,
// any other name is returned as it is.
std::string demangle(const char *name);

} // namespace zor

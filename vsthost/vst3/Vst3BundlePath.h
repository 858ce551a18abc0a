#pragma once
// Where a VST3 plug-in's binary is, from the path's shape. Portable: the caller tells
// whether the path is a folder. Both separators are accepted.
#include <cstddef>

namespace vst3path {

// The folder of the binaries of this edition's width inside a bundle, and the other's.
#if defined(_WIN64) || (!defined(_WIN32) && defined(__x86_64__))
constexpr const char* kOwnArchitecture = "x86_64-win";
constexpr const char* kOtherArchitecture = "x86-win";
#else
constexpr const char* kOwnArchitecture = "x86-win";
constexpr const char* kOtherArchitecture = "x86_64-win";
#endif

// A bundle folder or a single-file plug-in: the path ends in ".vst3" (any case, a
// trailing separator allowed).
bool recognises(const char* path);

// The binary in bundle folder for architecture: <bundle>\Contents\<arch>\<name>.vst3.
// False when it does not fit size.
bool bundleBinary(const char* bundle, const char* architecture, char* out, size_t size);

}  // namespace vst3path

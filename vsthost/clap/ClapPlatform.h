#pragma once
// The little of the operating system the CLAP backend needs: opening a module file,
// finding its entry, and telling threads apart. One implementation per platform
// (Windows for the product, POSIX so that the rest is built and tested natively).
#include <cstddef>
#include <cstdint>

namespace clap_platform {

// Opens the module at path (UTF-8). Null on failure, with failure holding the
// system's reason (never the path).
void* openModule(const char* path, char* failure, size_t failureSize);
void* moduleSymbol(void* module, const char* name);
void closeModule(void* module);

// A number that differs between threads alive at the same time; never 0. Allocates
// nothing, so the audio thread may ask.
uint64_t currentThreadToken();

}  // namespace clap_platform

#pragma once
// Reading the plug-in's strings, which may be unterminated, overlong or null: never
// more than the field's worth of bytes is read, and every copy ends in a NUL.
#include <cstddef>

// Copies source (at most maxRead bytes, stopping at a NUL) into out, cut to outSize.
// A null source gives an empty text. Returns the length written.
size_t copyPluginText(char* out, size_t outSize, const char* source, size_t maxRead);

// True when source (read up to maxRead bytes) is exactly wanted.
bool pluginTextIs(const char* source, const char* wanted, size_t maxRead);

// True when source ends in suffix, letters compared without case.
bool endsWithNoCase(const char* text, const char* suffix);

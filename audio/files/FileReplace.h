#pragma once
#include <cstddef>
#include <cstdint>

// Puts data in the place of the file at path so that the previous file survives any
// failure: the bytes go to "<path>.saving" beside it, are flushed to the disk, and
// only then does that file replace path (on Windows MoveFileEx with replace-existing
// and write-through, elsewhere rename). A failure deletes the temporary file, leaves
// path as it was and says why in detail. The path is in the platform's narrow
// encoding (the ANSI code page on Windows). UI thread (or any thread but audio).
bool replaceFileContents(const char* path, const uint8_t* data, size_t size, char* detail, size_t detailSize);

// The suffix of the temporary file.
constexpr char kReplaceTemporarySuffix[] = ".saving";

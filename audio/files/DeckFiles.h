#pragma once
#include <cstdint>

// The deck's questions to the file system, apart from reading and writing.

// What a file is, whatever path names it: two paths name the same file when their
// identities are equal.
struct FileIdentity {
    uint32_t volume = 0;
    uint32_t indexHigh = 0;
    uint32_t indexLow = 0;
    bool known = false;

    bool sameAs(const FileIdentity& other) const {
        return known && other.known && volume == other.volume && indexHigh == other.indexHigh &&
               indexLow == other.indexLow;
    }
};

// Opens an existing file for reading with no sharing, which fails while any other
// handle holds it, and learns its size (at most 4 GiB - 1: a RIFF file cannot
// address more) and identity.
bool probeFileAlone(const char* path, uint32_t& size, FileIdentity& identity);

// The identity of an existing file, asked without opening it for reading or writing
// (so it works while another handle holds it). Not known when it does not exist.
FileIdentity identifyFile(const char* path);

// True when both paths expand to the same full path, without regard to letter case.
bool sameFullPath(const char* a, const char* b);

// Cuts a file to the given size.
bool truncateFile(const char* path, uint64_t size);

bool deleteFile(const char* path);

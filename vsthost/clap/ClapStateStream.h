#pragma once
// The streams a plug-in saves its state into and loads it from. Every length the
// plug-in passes is checked: a write past the record's limit fails, a read never
// passes the end of the bytes given.
#include <cstddef>
#include <cstdint>

#include "ClapAbi.h"
#include "PluginInstance.h"

class ClapStateWriter {
public:
    explicit ClapStateWriter(ByteRecord& record, size_t limit = ByteRecord::kDefaultLimit);
    ClapStateWriter(const ClapStateWriter&) = delete;
    ClapStateWriter& operator=(const ClapStateWriter&) = delete;
    const clap_ostream_t* stream() const { return &stream_; }
    // A write was refused (too long, no memory, no buffer): the record is not the state.
    bool failed() const { return failed_; }

private:
    static int64_t write(const clap_ostream_t* stream, const void* buffer, uint64_t size);
    clap_ostream_t stream_;
    ByteRecord& record_;
    size_t limit_;
    bool failed_ = false;
};

class ClapStateReader {
public:
    ClapStateReader(const uint8_t* data, size_t size);
    ClapStateReader(const ClapStateReader&) = delete;
    ClapStateReader& operator=(const ClapStateReader&) = delete;
    const clap_istream_t* stream() const { return &stream_; }
    size_t consumed() const { return at_; }

private:
    static int64_t read(const clap_istream_t* stream, void* buffer, uint64_t size);
    clap_istream_t stream_;
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

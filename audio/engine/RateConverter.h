#pragma once
#include <cstdint>

// Band-limited sample-rate conversion: a polyphase windowed-sinc filter (Kaiser
// window) whose coefficients are computed on the UI thread, when a file is opened or
// a take starts. The driver thread only selects a table and runs dot products: it
// never allocates and never locks.
//
// The position of every output sample is kept as an exact fraction of the input
// rate (numerator over the reduced rate ratio), so a stream converted in blocks of
// any size takes exactly as long as it should, block after block. Equal rates are a
// plain copy.
//
// The filter is linear-phase; its delay is at most 1 ms: half of its length is at most
// one millisecond of the lower of the two rates. With 100 dB of stopband that leaves
// a transition band of about 3.3 kHz, placed below the lower rate's Nyquist frequency
// when that keeps the passband at 18 kHz (or 40 % of the lower rate); otherwise the
// cutoff is the Nyquist frequency itself, so what images or aliases there are stay
// above the passband.

// The coefficients for one pair of rates, built once and then only read.
class RateTable {
public:
    enum class Kind : uint8_t { None, Copy, Linear, Sinc };

    static constexpr uint32_t kMaxRatio = 100;  // either way; beyond it nothing converts

    RateTable() = default;
    virtual ~RateTable();
    RateTable(const RateTable&) = delete;
    RateTable& operator=(const RateTable&) = delete;

    // UI thread. False when the rates are unusable (0, or further apart than kMaxRatio)
    // or the coefficients cannot be allocated; the table is then None.
    bool build(uint32_t inRate, uint32_t outRate);
    // Any thread, no allocation: two-point interpolation, for a rate no table was
    // built for. False (and None) for unusable rates.
    bool buildLinear(uint32_t inRate, uint32_t outRate);
    void release();

    Kind kind() const { return kind_; }
    uint32_t inRate() const { return inRate_; }
    uint32_t outRate() const { return outRate_; }
    // Each output sample advances step / phases input samples (the reduced ratio).
    uint64_t step() const { return step_; }
    uint64_t phases() const { return phases_; }
    int32_t taps() const { return taps_; }  // input samples under one output sample
    // Rows of coefficients: phases() of them, or kInterpolatedRows (plus one) between
    // which the exact phase is interpolated when the ratio has too many phases.
    int32_t rows() const { return rows_; }
    bool interpolated() const { return interpolated_; }
    const float* row(int32_t index) const { return coefficients_ + int64_t(index) * taps_; }
    // The delay in input samples, the filter's centre.
    int32_t delay() const { return taps_ / 2; }

    static constexpr int32_t kInterpolatedRows = 256;
    static constexpr int32_t kMaxExactCoefficients = 1 << 18;
    static constexpr int32_t kMaxTaps = 512;

private:
    bool setRatio(uint32_t inRate, uint32_t outRate);

    Kind kind_ = Kind::None;
    uint32_t inRate_ = 0, outRate_ = 0;
    uint64_t step_ = 0, phases_ = 1;
    int32_t taps_ = 0, rows_ = 0;
    bool interpolated_ = false;
    float* coefficients_ = nullptr;
};

// One channel's converter: its table, the input it still needs (the filter's history
// and any input not yet used) and the exact position of the next output sample.
struct RateConverterState {
    const RateTable* table = nullptr;
    float* history = nullptr;  // capacity samples, owned by whoever set the state up
    int32_t capacity = 0;
    int32_t kept = 0;       // samples held in history
    int32_t used = 0;       // of them, those the window has reached
    uint64_t position = 0;  // fraction of an input sample, over table->phases()

    // Starts afresh: silent history, position 0. The table may be null (nothing converts).
    void reset(const RateTable* newTable);
};

// Converts one channel: takes all inputCount samples (beyond the history's room the
// surplus is dropped) and writes as many of outputCount samples as the input reaches;
// returns how many. A caller that asks rateInputFor(outputs) samples for outputs
// samples, or rateOutputFor(inputs) samples from inputs samples, always gets them all.
int32_t convertRate(const float* source, float* destination, int32_t outputCount, int32_t inputCount,
                    RateConverterState& state);

// Input samples the next outputs samples need (after what the state holds).
int32_t rateInputFor(const RateConverterState& state, int32_t outputs);
// Output samples that inputs more input samples complete.
int32_t rateOutputFor(const RateConverterState& state, int32_t inputs);

// The converters of one file, for both of its channels, with tables for the host
// rates a driver commonly runs at (and the one last seen). The file's rate is fixed;
// the host's is known only on the driver thread, block by block, so the driver
// thread selects among tables made beforehand.
class RateConverter {
public:
    static constexpr int kChannels = 2;
    static constexpr int kMaxTables = 10;

    RateConverter() = default;
    virtual ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // UI thread. fileIsSource: the file is converted to the host's rate (the
    // accompaniment); otherwise the host's signal to the file's rate (a take).
    // maxInput: the most input samples one call hands over. False when memory is short.
    bool prepare(uint32_t fileRate, bool fileIsSource, uint32_t lastHostRate, int32_t maxInput);
    void release();
    bool prepared() const { return history_[0] != nullptr; }

    // Driver thread. Picks the table for this host rate, and starts the channels afresh
    // when it changes (also the first time). A rate without a table gets two-point
    // interpolation. Returns true when the channels were started afresh.
    bool select(float hostRate);
    // Driver thread: silent history, position 0, same table.
    void restart();
    bool converts() const { return current_ && current_->kind() != RateTable::Kind::None; }
    bool copies() const { return current_ && current_->kind() == RateTable::Kind::Copy; }
    const RateTable* current() const { return current_; }
    RateConverterState& channel(int ch) { return channels_[ch]; }
    const RateConverterState& channel(int ch) const { return channels_[ch]; }

private:
    const RateTable* tableFor(uint32_t hostRate);

    uint32_t fileRate_ = 0;
    bool fileIsSource_ = true;
    RateTable tables_[kMaxTables];
    int32_t tableCount_ = 0;
    RateTable fallback_;
    float* history_[kChannels] = {};
    int32_t capacity_ = 0;
    const RateTable* current_ = nullptr;
    uint32_t currentHostRate_ = 0;
    RateConverterState channels_[kChannels];
};

#include "RateConverter.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kStopbandDb = 105.0;  // 100 dB with room for the window formula's slack

uint32_t greatestCommonDivisor(uint32_t a, uint32_t b) {
    while (b != 0) {
        const uint32_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// The modified Bessel function of order 0 by its power series, which for the window's
// arguments (at most about 11) converges to double precision within 40 terms.
double besselI0(double x) {
    static const struct Reciprocals {
        double of[41];
        Reciprocals() {
            for (int k = 1; k <= 40; ++k)
                of[k] = 1.0 / (double(k) * double(k));
        }
    } squares;
    double sum = 1.0, term = 1.0;
    const double quarterSquare = x * x / 4.0;
    // Stopping once the terms no longer count also keeps them out of denormal range.
    for (int k = 1; k <= 40 && term > sum * 1e-17; ++k) {
        term *= quarterSquare * squares.of[k];
        sum += term;
    }
    return sum;
}

// The filter of one pair of rates, in units of the lower rate's samples: cutoff
// (cycles per sample), half length and Kaiser shape; stretch is how many input
// samples one such unit spans (1 when the rate goes up).
struct Design {
    double cutoff;
    double halfLength;
    double beta;
    double stretch;

    Design(uint32_t inRate, uint32_t outRate) {
        const double low = inRate < outRate ? inRate : outRate;
        double half = std::floor(low / 1000.0);  // one millisecond of the lower rate
        half = half < 4.0 ? 4.0 : half > 64.0 ? 64.0 : half;
        halfLength = half;
        beta = 0.1102 * (kStopbandDb - 8.7);
        const double transition = (kStopbandDb - 7.95) / (14.357 * (2.0 * half - 1.0));
        const double strictPassband = 0.5 - transition;
        const double wanted = 18000.0 / low < 0.4 ? 18000.0 / low : 0.4;
        // Stopband at the Nyquist frequency when the passband stays wide enough; else a
        // half-band cutoff, which keeps images and aliases out of the passband.
        cutoff = strictPassband >= wanted ? 0.5 - transition / 2.0 : 0.5;
        stretch = inRate > outRate ? double(inRate) / double(outRate) : 1.0;
    }

    // The kernel at a distance of d input samples.
    double at(double d) const {
        const double u = d / stretch;
        const double x = u / halfLength;
        if (x <= -1.0 || x >= 1.0)
            return 0.0;
        const double arg = 2.0 * cutoff * u;
        const double sinc = std::fabs(arg) < 1e-12 ? 1.0 : std::sin(kPi * arg) / (kPi * arg);
        return 2.0 * cutoff * sinc * besselI0(beta * std::sqrt(1.0 - x * x)) / stretch;
    }

    int32_t taps() const {
        int32_t half = int32_t(std::ceil(halfLength * stretch));
        half += half & 1;  // whole groups of four taps
        return 2 * half;
    }
};

// Fills one row: tap i lies i - (taps/2 - 1) - phase input samples from the output
// instant. Each row sums to 1 so that no phase changes the level.
void fillRow(float* row, const Design& design, int32_t taps, double phase) {
    double kernel[RateTable::kMaxTaps];
    double sum = 0.0;
    for (int32_t i = 0; i < taps; ++i) {
        kernel[i] = design.at(double(i - (taps / 2 - 1)) - phase);
        sum += kernel[i];
    }
    for (int32_t i = 0; i < taps; ++i)
        row[i] = float(kernel[i] / sum);
}

// Four partial sums so that the compiler can keep them in one vector register.
inline float dot(const float* window, const float* coefficients, int32_t taps) {
    float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
    for (int32_t i = 0; i < taps; i += 4) {
        s0 += window[i] * coefficients[i];
        s1 += window[i + 1] * coefficients[i + 1];
        s2 += window[i + 2] * coefficients[i + 2];
        s3 += window[i + 3] * coefficients[i + 3];
    }
    return (s0 + s2) + (s1 + s3);
}

float filtered(const RateTable& table, const float* window, uint64_t position) {
    switch (table.kind()) {
    case RateTable::Kind::Linear: {
        const float phase = float(double(position) / double(table.phases()));
        return window[0] + phase * (window[1] - window[0]);
    }
    case RateTable::Kind::Sinc:
        if (!table.interpolated())
            return dot(window, table.row(int32_t(position)), table.taps());
        else {
            const uint64_t scaled = position * uint64_t(table.rows());
            const int32_t index = int32_t(scaled / table.phases());
            const float fraction = float(double(scaled % table.phases()) / double(table.phases()));
            const float a = dot(window, table.row(index), table.taps());
            const float b = dot(window, table.row(index + 1), table.taps());
            return a + fraction * (b - a);
        }
    default:
        return 0.0f;
    }
}

}  // namespace

// ---------------------------------------------------------------- RateTable

RateTable::~RateTable() { release(); }

void RateTable::release() {
    delete[] coefficients_;
    coefficients_ = nullptr;
    kind_ = Kind::None;
    inRate_ = outRate_ = 0;
    step_ = 0;
    phases_ = 1;
    taps_ = rows_ = 0;
    interpolated_ = false;
}

bool RateTable::setRatio(uint32_t inRate, uint32_t outRate) {
    release();
    if (inRate == 0 || outRate == 0 || inRate / outRate >= kMaxRatio || outRate / inRate >= kMaxRatio)
        return false;
    const uint32_t divisor = greatestCommonDivisor(inRate, outRate);
    inRate_ = inRate;
    outRate_ = outRate;
    step_ = inRate / divisor;
    phases_ = outRate / divisor;
    return true;
}

bool RateTable::buildLinear(uint32_t inRate, uint32_t outRate) {
    if (!setRatio(inRate, outRate))
        return false;
    kind_ = inRate == outRate ? Kind::Copy : Kind::Linear;
    taps_ = inRate == outRate ? 0 : 2;
    return true;
}

bool RateTable::build(uint32_t inRate, uint32_t outRate) {
    if (!setRatio(inRate, outRate))
        return false;
    if (inRate == outRate) {
        kind_ = Kind::Copy;
        return true;
    }
    const Design design(inRate, outRate);
    const int32_t taps = design.taps();
    if (taps > kMaxTaps) {
        release();
        return false;
    }
    interpolated_ = phases_ * uint64_t(taps) > uint64_t(kMaxExactCoefficients);
    const int32_t rows = interpolated_ ? kInterpolatedRows : int32_t(phases_);
    const int32_t stored = interpolated_ ? rows + 1 : rows;  // the last one is phase 1
    coefficients_ = new (std::nothrow) float[size_t(stored) * size_t(taps)];
    if (!coefficients_) {
        release();
        return false;
    }
    // The kernel is symmetric: row rows - r is row r reversed, so only half are computed.
    for (int32_t r = 0; r < stored; ++r) {
        float* row = coefficients_ + int64_t(r) * taps;
        const int32_t mirror = rows - r;
        if (r > 0 && mirror < r) {
            const float* original = coefficients_ + int64_t(mirror) * taps;
            for (int32_t i = 0; i < taps; ++i)
                row[i] = original[taps - 1 - i];
        } else {
            fillRow(row, design, taps, double(r) / double(rows));
        }
    }
    kind_ = Kind::Sinc;
    taps_ = taps;
    rows_ = rows;
    return true;
}

// ---------------------------------------------------------------- one channel

void RateConverterState::reset(const RateTable* newTable) {
    table = newTable;
    const int32_t taps = newTable ? newTable->taps() : 0;
    if (history && capacity >= taps)
        std::memset(history, 0, sizeof(float) * size_t(taps));
    kept = used = taps;
    position = 0;
}

int32_t rateInputFor(const RateConverterState& state, int32_t outputs) {
    const RateTable* table = state.table;
    if (!table || outputs <= 0 || table->kind() == RateTable::Kind::None)
        return 0;
    if (table->kind() == RateTable::Kind::Copy)
        return outputs;
    const uint64_t advance = (state.position + uint64_t(outputs) * table->step()) / table->phases();
    const int64_t needed = int64_t(advance) - (state.kept - state.used);
    return needed > 0 ? int32_t(needed) : 0;
}

int32_t rateOutputFor(const RateConverterState& state, int32_t inputs) {
    const RateTable* table = state.table;
    if (!table || inputs < 0 || table->kind() == RateTable::Kind::None)
        return 0;
    if (table->kind() == RateTable::Kind::Copy)
        return inputs;
    // The most outputs whose advance stays within the input held and given.
    const uint64_t available = uint64_t(state.kept - state.used) + uint64_t(inputs);
    return int32_t(((available + 1) * table->phases() - 1 - state.position) / table->step());
}

int32_t convertRate(const float* source, float* destination, int32_t outputCount, int32_t inputCount,
                    RateConverterState& state) {
    const RateTable* table = state.table;
    if (!table || outputCount < 0 || inputCount < 0)
        return 0;
    switch (table->kind()) {
    case RateTable::Kind::None:
        return 0;
    case RateTable::Kind::Copy: {
        const int32_t n = outputCount < inputCount ? outputCount : inputCount;
        std::memmove(destination, source, sizeof(float) * size_t(n));
        return n;
    }
    default:
        break;
    }
    if (!state.history)
        return 0;
    const int32_t room = state.capacity - state.kept;
    const int32_t taken = inputCount < room ? inputCount : room;
    std::memcpy(state.history + state.kept, source, sizeof(float) * size_t(taken));
    state.kept += taken;

    const int32_t taps = table->taps();
    const uint64_t step = table->step(), phases = table->phases();
    uint64_t position = state.position;
    int32_t used = state.used;
    int32_t written = 0;
    while (written < outputCount) {
        const uint64_t next = position + step;
        const int32_t advance = int32_t(next / phases);
        if (used + advance > state.kept)
            break;
        used += advance;
        position = next - uint64_t(advance) * phases;
        destination[written++] = filtered(*table, state.history + used - taps, position);
    }
    // Keep the window's samples and the input not reached yet at the front.
    const int32_t drop = used - taps;
    if (drop > 0) {
        std::memmove(state.history, state.history + drop, sizeof(float) * size_t(state.kept - drop));
        state.kept -= drop;
        used -= drop;
    }
    state.used = used;
    state.position = position;
    return written;
}

// ---------------------------------------------------------------- the file's converters

namespace {
// The rates ASIO drivers run at, for which tables are made beforehand.
constexpr uint32_t kCommonHostRates[] = {44100, 48000, 88200, 96000, 176400, 192000, 22050, 32000};
}  // namespace

RateConverter::~RateConverter() { release(); }

void RateConverter::release() {
    for (RateTable& t : tables_)
        t.release();
    tableCount_ = 0;
    fallback_.release();
    for (int ch = 0; ch < kChannels; ++ch) {
        delete[] history_[ch];
        history_[ch] = nullptr;
        channels_[ch] = RateConverterState{};
    }
    capacity_ = 0;
    current_ = nullptr;
    currentHostRate_ = 0;
    fileRate_ = 0;
}

bool RateConverter::prepare(uint32_t fileRate, bool fileIsSource, uint32_t lastHostRate, int32_t maxInput) {
    release();
    fileRate_ = fileRate;
    fileIsSource_ = fileIsSource;
    uint32_t hostRates[kMaxTables];
    int32_t rateCount = 0;
    for (uint32_t rate : kCommonHostRates)
        hostRates[rateCount++] = rate;
    bool known = lastHostRate == 0;
    for (int32_t i = 0; i < rateCount; ++i)
        known = known || hostRates[i] == lastHostRate;
    if (!known)
        hostRates[rateCount++] = lastHostRate;

    int32_t widest = 2;
    for (int32_t i = 0; i < rateCount; ++i) {
        RateTable& table = tables_[tableCount_];
        const bool built = fileIsSource ? table.build(fileRate, hostRates[i]) : table.build(hostRates[i], fileRate);
        if (!built)
            continue;  // a ratio beyond the limit; anything else is memory
        widest = table.taps() > widest ? table.taps() : widest;
        ++tableCount_;
    }
    // Room for the window, the input a call may leave unused (less than the largest
    // advance of one output sample) and one call's input.
    capacity_ = widest + int32_t(RateTable::kMaxRatio) + 1 + (maxInput > 0 ? maxInput : 0);
    for (int ch = 0; ch < kChannels; ++ch) {
        history_[ch] = new (std::nothrow) float[size_t(capacity_)]();
        if (!history_[ch]) {
            release();
            return false;
        }
        channels_[ch].history = history_[ch];
        channels_[ch].capacity = capacity_;
    }
    return true;
}

const RateTable* RateConverter::tableFor(uint32_t hostRate) {
    for (int32_t i = 0; i < tableCount_; ++i) {
        const RateTable& t = tables_[i];
        if ((fileIsSource_ ? t.outRate() : t.inRate()) == hostRate)
            return &t;
    }
    // Two points need no coefficients; without history only equal rates can pass.
    const bool built = fileIsSource_ ? fallback_.buildLinear(fileRate_, hostRate) : fallback_.buildLinear(hostRate, fileRate_);
    if (!built || (!prepared() && fallback_.kind() != RateTable::Kind::Copy))
        return nullptr;
    return &fallback_;
}

bool RateConverter::select(float hostRate) {
    const uint32_t rate = hostRate >= 1.0f && hostRate < 4.0e9f ? uint32_t(hostRate + 0.5f) : 0;
    if (current_ && rate == currentHostRate_)
        return false;
    currentHostRate_ = rate;
    current_ = rate == 0 || fileRate_ == 0 ? nullptr : tableFor(rate);
    restart();
    return true;
}

void RateConverter::restart() {
    for (RateConverterState& s : channels_)
        s.reset(current_);
}

#pragma once
#include <cstring>
#include <vector>

#include "LiveChain.h"
#include "SampleFormat.h"

// Driver-side buffers for one chain: up to two inputs and two outputs of one ASIO
// sample type, with helpers to fill and read them as floats.
class DriverBuffers {
public:
    DriverBuffers(int32_t sampleType, int inputs, int outputs, int frames, double rate = 48000.0)
        : frames_(frames), inputCount_(inputs), outputCount_(outputs) {
        formatFromSampleType(sampleType, format_, rate);
        for (int i = 0; i < 2; ++i) {
            in_[i].assign(size_t(frames) * format_.blockAlign, 0);
            out_[i].assign(size_t(frames) * format_.blockAlign, 0);
        }
    }

    void setInput(int ch, const std::vector<float>& samples) {
        const float* src[1] = {samples.data()};
        encodeSamples(src, in_[ch].data(), int32_t(samples.size()), format_, false);
    }
    void setInputBytes(int ch, const std::vector<uint8_t>& bytes) { in_[ch] = bytes; }
    std::vector<float> output(int ch) const {
        std::vector<float> out(frames_);
        float* dst[1] = {out.data()};
        decodeSamples(out_[ch].data(), dst, frames_, format_, false);
        return out;
    }
    const std::vector<uint8_t>& outputBytes(int ch) const { return out_[ch]; }

    // Runs the whole buffer through the chain in pieces of the given lengths (or all
    // at once), as successive driver callbacks would.
    void process(LiveChain& chain, std::vector<int> pieces = {}) {
        if (pieces.empty())
            pieces.push_back(frames_);
        int offset = 0;
        for (int n : pieces) {
            ChannelBuffer ins[3] = {}, outs[3] = {};
            for (int i = 0; i < inputCount_; ++i)
                ins[i] = ChannelBuffer{format_, 0, in_[i].data() + offset * format_.blockAlign};
            for (int i = 0; i < outputCount_; ++i)
                outs[i] = ChannelBuffer{format_, 0, out_[i].data() + offset * format_.blockAlign};
            chain.processBlock(ins, outs, n);
            for (int i = 0; i < inputCount_; ++i)
                EXPECT_EQ(ins[i].position, in_[i].data() + (offset + n) * format_.blockAlign);
            offset += n;
        }
    }

    const FormatRecord& format() const { return format_; }

private:
    FormatRecord format_{};
    int frames_;
    int inputCount_, outputCount_;
    std::vector<uint8_t> in_[2], out_[2];
};

// Settings with everything that shapes the signal switched off: unity gains, gate
// and DC filter off, no metronome.
inline void makeTransparent(LiveSettings& s) {
    s.gateThresh = 0.0f;
    s.centerAmp = 0;
    s.metronome = 0;
    s.ingain = 0.75f;
    s.outgain = 0.75f;
}

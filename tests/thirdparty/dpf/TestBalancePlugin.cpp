// A stereo gain and balance with a short delay in DPF: the output is predictable
// sample for sample from the three parameters, the rate the host set and the
// "channels" state ("normal" or "mirror", the inputs swapped), which DPF keeps in the
// state it saves for the host beside the parameter values.
#include <cmath>
#include <cstring>

#include "DistrhoPlugin.hpp"

START_NAMESPACE_DISTRHO

class TestBalancePlugin : public Plugin {
public:
    TestBalancePlugin() : Plugin(kTestBalanceParameterCount, 0, 1) {}

protected:
    const char* getLabel() const override { return "TalvenorTestBalance"; }
    const char* getDescription() const override { return "Gain and balance for testing the host."; }
    const char* getMaker() const override { return "Talvenor Tests"; }
    const char* getLicense() const override { return "ISC"; }
    uint32_t getVersion() const override { return d_version(1, 0, 0); }
    int64_t getUniqueId() const override { return d_cconst('T', 'v', 'B', 'l'); }

    void initAudioPort(bool input, uint32_t index, AudioPort& port) override {
        port.groupId = kPortGroupStereo;
        Plugin::initAudioPort(input, index, port);
    }

    void initParameter(uint32_t index, Parameter& parameter) override {
        parameter.hints = kParameterIsAutomatable;
        if (index == kTestBalanceGain) {
            parameter.name = "Gain";
            parameter.symbol = "gain";
            parameter.ranges.min = 0.0f;
            parameter.ranges.max = 2.0f;
            parameter.ranges.def = 1.0f;
        } else if (index == kTestBalanceBalance) {
            parameter.name = "Balance";
            parameter.symbol = "balance";
            parameter.ranges.min = -1.0f;
            parameter.ranges.max = 1.0f;
            parameter.ranges.def = 0.0f;
        } else if (index == kTestBalanceDelay) {
            parameter.name = "Delay";
            parameter.symbol = "delay";
            parameter.unit = "ms";
            parameter.ranges.min = 0.0f;
            parameter.ranges.max = 10.0f;
            parameter.ranges.def = 0.0f;
        }
    }

    void initState(uint32_t index, State& state) override {
        if (index == 0) {
            state.key = "channels";
            state.defaultValue = "normal";
            state.label = "Channels";
        }
    }

    float getParameterValue(uint32_t index) const override {
        return index == kTestBalanceGain ? gain_ : index == kTestBalanceBalance ? balance_ : delayMs_;
    }

    void setParameterValue(uint32_t index, float value) override {
        if (index == kTestBalanceGain)
            gain_ = value;
        else if (index == kTestBalanceBalance)
            balance_ = value;
        else if (index == kTestBalanceDelay)
            delayMs_ = value;
    }

    String getState(const char* key) const override {
        return String(std::strcmp(key, "channels") == 0 && swapped_ ? "mirror" : "normal");
    }

    void setState(const char* key, const char* value) override {
        if (std::strcmp(key, "channels") == 0)
            swapped_ = std::strcmp(value, "mirror") == 0;
    }

    void activate() override {
        std::memset(line_, 0, sizeof line_);
        written_ = 0;
    }

    void run(const float** inputs, float** outputs, uint32_t frames) override {
        // The delay in whole samples at the host's rate, as long as the line allows.
        const double wanted = std::floor(double(delayMs_) * getSampleRate() / 1000.0 + 0.5);
        const uint32_t delay = wanted <= 0.0 ? 0 : wanted >= kLine - 1 ? kLine - 1 : uint32_t(wanted);
        const float left = gain_ * (balance_ > 0.0f ? 1.0f - balance_ : 1.0f);
        const float right = gain_ * (balance_ < 0.0f ? 1.0f + balance_ : 1.0f);
        const float* inLeft = inputs[swapped_ ? 1 : 0];
        const float* inRight = inputs[swapped_ ? 0 : 1];
        // In place is allowed: both channels of a frame go into the line before either
        // output is written.
        for (uint32_t i = 0; i < frames; ++i) {
            line_[0][written_] = inLeft[i];
            line_[1][written_] = inRight[i];
            const uint32_t from = (written_ + kLine - delay) % kLine;
            outputs[0][i] = line_[0][from] * left;
            outputs[1][i] = line_[1][from] * right;
            written_ = (written_ + 1) % kLine;
        }
    }

private:
    static constexpr uint32_t kLine = 4096;  // past 10 ms at 192 kHz
    float line_[2][kLine] = {};
    uint32_t written_ = 0;
    float delayMs_ = 0.0f;
    float gain_ = 1.0f;
    float balance_ = 0.0f;
    bool swapped_ = false;
};

Plugin* createPlugin() { return new TestBalancePlugin(); }

END_NAMESPACE_DISTRHO

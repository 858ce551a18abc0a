#pragma once

// Keeps the result of a costly computation (a pow, a sin and cos) until its input
// changes: the knobs and the rate keep their values for many sub-blocks.
template <typename In, typename Out>
class LastValue {
public:
    template <typename Compute>
    const Out& get(In input, Compute compute) {
        if (!valid_ || input != input_) {
            input_ = input;
            value_ = compute(input);
            valid_ = true;
        }
        return value_;
    }

private:
    In input_{};
    Out value_{};
    bool valid_ = false;
};

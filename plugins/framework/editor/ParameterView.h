#pragma once
// The editor of our effects' VST3 and CLAP builds (Windows): one row per parameter
// with its name, a bar showing the value and the value's text; dragging across a
// row sets the value where the pointer is. The view fills the window the host gives
// it and lays its rows out again when the host resizes it. UI thread only.
#include <cstddef>
#include <cstdint>

// What the view shows and whom it tells about the user's edits (the format's side).
class ParameterViewModel {
public:
    virtual ~ParameterViewModel() = default;
    virtual int32_t rowCount() const = 0;
    virtual bool rowName(int32_t row, char* text, size_t size) const = 0;
    // The value's text as the format shows it, unit included.
    virtual bool rowText(int32_t row, char* text, size_t size) const = 0;
    virtual float rowValue(int32_t row) const = 0;
    virtual void beginEdit(int32_t row) = 0;
    virtual void edit(int32_t row, float value) = 0;
    virtual void endEdit(int32_t row) = 0;
};

class ParameterView {
public:
    static constexpr int32_t kRowHeight = 30;
    static constexpr int32_t kMargin = 10;
    static constexpr int32_t kDefaultWidth = 420;
    static constexpr int32_t kMinWidth = 260;
    static constexpr int32_t kMaxSide = 4096;

    explicit ParameterView(ParameterViewModel& model);
    ~ParameterView();
    ParameterView(const ParameterView&) = delete;
    ParameterView& operator=(const ParameterView&) = delete;

    // Creates the view as a child of parent (an HWND); false when it could not.
    bool open(void* parent);
    void close();
    bool isOpen() const { return window_ != nullptr; }

    void size(int32_t* width, int32_t* height) const;
    // Bends a size the host proposes to one the view can take (wide enough for its
    // texts, tall enough for its rows).
    void constrain(int32_t* width, int32_t* height) const;
    bool resize(int32_t width, int32_t height);

    // For the window procedure (window is the view's own, also while it is created).
    long long handle(void* window, unsigned message, unsigned long long wParam, long long lParam);

private:
    int32_t minimumHeight() const;
    int32_t rowAt(int32_t y) const;
    float valueAt(int32_t x) const;
    void barSpan(int32_t* left, int32_t* right) const;
    void paint(void* window);
    void finishDrag();

    ParameterViewModel& model_;
    void* window_ = nullptr;
    int32_t width_;
    int32_t height_;
    int32_t dragging_ = -1;
    float shown_[64] = {};
};

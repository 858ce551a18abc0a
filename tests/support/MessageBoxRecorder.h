#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "MessageBoxes.h"

// Replaces every message box of the program while it lives and records what would
// have been shown; answers each box with a chosen button.
class MessageBoxRecorder {
public:
    struct Box {
        std::string text;
        std::string caption;
        UINT flags;
        HWND owner;
    };

    explicit MessageBoxRecorder(int answer = IDOK);
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    void setAnswer(int answer);
    std::vector<Box> boxes() const;
    size_t count() const;
    void clear();
    // The error ids shown through showError with a positive id, in order
    // (read back from the "Error #<id>" captions).
    std::vector<int> errorIds() const;
    // Captions in order, for boxes that are not numbered errors.
    std::vector<std::string> captions() const;

private:
    static int observe(const MessageBoxRequest& request, void* context);

    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
    int answer_;
};

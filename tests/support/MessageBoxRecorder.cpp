#include "MessageBoxRecorder.h"

#include <cstdio>

MessageBoxRecorder::MessageBoxRecorder(int answer) : answer_(answer) { setMessageBoxObserver(&observe, this); }

MessageBoxRecorder::~MessageBoxRecorder() { setMessageBoxObserver(nullptr, nullptr); }

int MessageBoxRecorder::observe(const MessageBoxRequest& request, void* context) {
    auto* self = static_cast<MessageBoxRecorder*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->boxes_.push_back(Box{request.text ? request.text : "", request.caption ? request.caption : "",
                               request.flags, request.owner});
    return self->answer_;
}

void MessageBoxRecorder::setAnswer(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = answer;
}

std::vector<MessageBoxRecorder::Box> MessageBoxRecorder::boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

size_t MessageBoxRecorder::count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_.size();
}

void MessageBoxRecorder::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
}

std::vector<int> MessageBoxRecorder::errorIds() const {
    std::vector<int> ids;
    for (const Box& box : boxes()) {
        int id = 0;
        if (std::sscanf(box.caption.c_str(), "Error #%d", &id) == 1)
            ids.push_back(id);
    }
    return ids;
}

std::vector<std::string> MessageBoxRecorder::captions() const {
    std::vector<std::string> result;
    for (const Box& box : boxes())
        result.push_back(box.caption);
    return result;
}

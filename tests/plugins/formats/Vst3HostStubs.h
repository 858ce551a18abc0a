#pragma once
// The two host objects a VST3 processor and component are handed: a memory stream
// for states and the parameter changes of one block. Just enough of the format to
// drive our effects' VST3 builds directly in the ABI tests.
#include <atomic>
#include <cstring>
#include <vector>

#include "audio_processor.h"
#include "base.h"
#include "bstream.h"

namespace effecttest {

inline bool sameIid(const v3_tuid a, const v3_tuid b) { return std::memcmp(a, b, sizeof(v3_tuid)) == 0; }

class MemoryStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    v3_bstream** stream() { return static_cast<v3_bstream**>(static_cast<void*>(&table_)); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    struct Table : v3_funknown {
        v3_bstream stream;
    };
    static MemoryStream* of(void* self) { return reinterpret_cast<MemoryStream*>(static_cast<char*>(self) - offsetof(MemoryStream, table_)); }
    static v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
        if (sameIid(iid, v3_funknown_iid) || sameIid(iid, v3_bstream_iid)) {
            *obj = self;
            return V3_OK;
        }
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static uint32_t V3_API ref(void*) { return 1; }
    static v3_result V3_API read(void* self, void* buffer, int32_t count, int32_t* done) {
        MemoryStream* s = of(self);
        const size_t left = s->bytes_.size() - s->position_;
        const size_t n = count < 0 ? 0 : size_t(count) < left ? size_t(count) : left;
        if (n)
            std::memcpy(buffer, s->bytes_.data() + s->position_, n);
        s->position_ += n;
        if (done)
            *done = int32_t(n);
        return V3_OK;
    }
    static v3_result V3_API write(void* self, void* buffer, int32_t count, int32_t* done) {
        MemoryStream* s = of(self);
        const uint8_t* from = static_cast<const uint8_t*>(buffer);
        s->bytes_.insert(s->bytes_.end(), from, from + (count > 0 ? count : 0));
        if (done)
            *done = count > 0 ? count : 0;
        return V3_OK;
    }
    static v3_result V3_API seek(void*, int64_t, int32_t, int64_t*) { return V3_NOT_IMPLEMENTED; }
    static v3_result V3_API tell(void* self, int64_t* position) {
        *position = int64_t(of(self)->position_);
        return V3_OK;
    }
    static const Table* table() {
        static const Table t = {{query, ref, ref}, {read, write, seek, tell}};
        return &t;
    }

    const Table* table_ = table();
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
};

// One block's changes: queues of (offset, value) points per parameter id.
class ParameterChanges {
public:
    void add(v3_param_id id, int32_t offset, double value) {
        for (Queue& q : queues_)
            if (q.id == id) {
                q.points.push_back({offset, value});
                return;
            }
        queues_.push_back(Queue{queueTable(), id, {{offset, value}}});
    }
    void clear() { queues_.clear(); }
    v3_param_changes** changes() { return static_cast<v3_param_changes**>(static_cast<void*>(&table_)); }

private:
    struct Point {
        int32_t offset;
        double value;
    };
    struct QueueTable : v3_funknown {
        v3_param_value_queue queue;
    };
    struct Queue {
        const QueueTable* table;
        v3_param_id id;
        std::vector<Point> points;
    };
    struct ChangesTable : v3_funknown {
        v3_param_changes changes;
    };
    static ParameterChanges* of(void* self) {
        return reinterpret_cast<ParameterChanges*>(static_cast<char*>(self) - offsetof(ParameterChanges, table_));
    }
    static Queue* queueOf(void* self) { return static_cast<Queue*>(self); }
    static v3_result V3_API query(void*, const v3_tuid, void** obj) {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static uint32_t V3_API ref(void*) { return 1; }
    static v3_param_id V3_API queueId(void* self) { return queueOf(self)->id; }
    static int32_t V3_API pointCount(void* self) { return int32_t(queueOf(self)->points.size()); }
    static v3_result V3_API point(void* self, int32_t index, int32_t* offset, double* value) {
        Queue* q = queueOf(self);
        if (index < 0 || size_t(index) >= q->points.size())
            return V3_INVALID_ARG;
        *offset = q->points[size_t(index)].offset;
        *value = q->points[size_t(index)].value;
        return V3_OK;
    }
    static v3_result V3_API addPoint(void*, int32_t, double, int32_t*) { return V3_NOT_IMPLEMENTED; }
    static int32_t V3_API count(void* self) { return int32_t(of(self)->queues_.size()); }
    static v3_param_value_queue** data(void* self, int32_t index) {
        ParameterChanges* c = of(self);
        if (index < 0 || size_t(index) >= c->queues_.size())
            return nullptr;
        return static_cast<v3_param_value_queue**>(static_cast<void*>(&c->queues_[size_t(index)].table));
    }
    static v3_param_value_queue** V3_API dataEntry(void* self, int32_t index) { return data(self, index); }
    static v3_param_value_queue** V3_API addData(void*, v3_param_id*, int32_t*) { return nullptr; }
    static const QueueTable* queueTable() {
        static const QueueTable t = {{query, ref, ref}, {queueId, pointCount, point, addPoint}};
        return &t;
    }
    static const ChangesTable* changesTable() {
        static const ChangesTable t = {{query, ref, ref}, {count, dataEntry, addData}};
        return &t;
    }

    const ChangesTable* table_ = changesTable();
    std::vector<Queue> queues_;
};

}  // namespace effecttest

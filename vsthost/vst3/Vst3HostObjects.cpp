#include "Vst3HostObjects.h"

#include <cstring>
#include <new>

#include "Vst3Text.h"

namespace {

std::atomic<int> gLiveObjects{0};

// The answer of an object with one interface (and IUnknown's): itself, counted by
// addRef where the object is counted.
v3_result answerInterface(void* self, const v3_tuid iid, const v3_tuid own, void** obj,
                          uint32_t(V3_API* addRef)(void*)) {
    if (!obj)
        return V3_INVALID_ARG;
    if (!v3_tuid_match(iid, v3_funknown_iid) && !v3_tuid_match(iid, own)) {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    if (addRef)
        addRef(self);
    *obj = self;
    return V3_OK;
}

// An attribute list of at most kMaxEntries values; copies what it is given.
class AttributeList {
public:
    static constexpr int kMaxEntries = 32;
    static constexpr uint32_t kMaxBytes = 1u << 20;  // no message of a plug-in's carries more

    AttributeList() { ++gLiveObjects; }
    ~AttributeList() {
        for (int i = 0; i < used_; ++i)
            delete[] entries_[i].bytes;
        --gLiveObjects;
    }
    v3_attribute_list** list() { return static_cast<v3_attribute_list**>(static_cast<void*>(&table_)); }

    struct Table : v3_funknown {
        v3_attribute_list list;
    };

private:
    enum Kind { kInt, kFloat, kString, kBinary };
    struct Entry {
        char id[64];
        Kind kind;
        int64_t integer;
        double number;
        uint8_t* bytes;
        uint32_t size;
    };

    static AttributeList* of(void* self) { return reinterpret_cast<AttributeList*>(self); }
    Entry* find(const char* id) {
        if (!id)
            return nullptr;
        for (int i = 0; i < used_; ++i)
            if (std::strncmp(entries_[i].id, id, sizeof entries_[i].id) == 0)
                return &entries_[i];
        return nullptr;
    }
    // The entry for id, emptied, or null when the list is full or id is unusable.
    Entry* slot(const char* id) {
        if (!id || std::strlen(id) >= sizeof entries_[0].id)
            return nullptr;
        Entry* entry = find(id);
        if (!entry) {
            if (used_ == kMaxEntries)
                return nullptr;
            entry = &entries_[used_++];
            std::strcpy(entry->id, id);
            entry->bytes = nullptr;
        }
        delete[] entry->bytes;
        entry->bytes = nullptr;
        entry->size = 0;
        return entry;
    }
    v3_result store(const char* id, Kind kind, const void* data, uint32_t size) {
        if (size > kMaxBytes || (size && !data))
            return V3_INVALID_ARG;
        Entry* entry = slot(id);
        if (!entry)
            return V3_NOMEM;
        entry->kind = kind;
        if (size) {
            entry->bytes = new (std::nothrow) uint8_t[size];
            if (!entry->bytes)
                return V3_NOMEM;
            std::memcpy(entry->bytes, data, size);
            entry->size = size;
        }
        return V3_OK;
    }

    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
        return answerInterface(self, iid, v3_attribute_list_iid, obj, &addRef);
    }
    static uint32_t V3_API addRef(void* self) { return ++of(self)->refs_; }
    static uint32_t V3_API unref(void* self) {
        const uint32_t left = --of(self)->refs_;
        if (left == 0)
            delete of(self);
        return left;
    }
    static v3_result V3_API setInt(void* self, const char* id, int64_t value) {
        Entry* entry = of(self)->slot(id);
        if (!entry)
            return V3_INVALID_ARG;
        entry->kind = kInt;
        entry->integer = value;
        return V3_OK;
    }
    static v3_result V3_API getInt(void* self, const char* id, int64_t* value) {
        Entry* entry = of(self)->find(id);
        if (!entry || entry->kind != kInt || !value)
            return V3_FALSE;
        *value = entry->integer;
        return V3_OK;
    }
    static v3_result V3_API setFloat(void* self, const char* id, double value) {
        Entry* entry = of(self)->slot(id);
        if (!entry)
            return V3_INVALID_ARG;
        entry->kind = kFloat;
        entry->number = value;
        return V3_OK;
    }
    static v3_result V3_API getFloat(void* self, const char* id, double* value) {
        Entry* entry = of(self)->find(id);
        if (!entry || entry->kind != kFloat || !value)
            return V3_FALSE;
        *value = entry->number;
        return V3_OK;
    }
    static v3_result V3_API setString(void* self, const char* id, const int16_t* text) {
        if (!text)
            return V3_INVALID_ARG;
        uint32_t units = 0;
        while (units < kMaxBytes / 2 - 1 && text[units] != 0)
            ++units;
        // Stored with a NUL of its own, whatever the plug-in's text ended with.
        int16_t* copy = new (std::nothrow) int16_t[units + 1];
        if (!copy)
            return V3_NOMEM;
        std::memcpy(copy, text, units * 2);
        copy[units] = 0;
        const v3_result result = of(self)->store(id, kString, copy, (units + 1) * 2);
        delete[] copy;
        return result;
    }
    static v3_result V3_API getString(void* self, const char* id, int16_t* text, uint32_t sizeInBytes) {
        Entry* entry = of(self)->find(id);
        if (!entry || entry->kind != kString || !text || sizeInBytes < 2)
            return V3_FALSE;
        const uint32_t units = sizeInBytes / 2;
        const uint32_t stored = entry->size / 2;
        const uint32_t copied = stored < units ? stored : units;
        std::memcpy(text, entry->bytes, copied * 2);
        text[copied - 1] = 0;
        return V3_OK;
    }
    static v3_result V3_API setBinary(void* self, const char* id, const void* data, uint32_t size) {
        return of(self)->store(id, kBinary, data, size);
    }
    static v3_result V3_API getBinary(void* self, const char* id, const void** data, uint32_t* size) {
        Entry* entry = of(self)->find(id);
        if (!entry || entry->kind != kBinary || !data || !size)
            return V3_FALSE;
        *data = entry->bytes;
        *size = entry->size;
        return V3_OK;
    }

    static const Table kTable;
    const Table* table_ = &kTable;  // first member: the object's address is its interface pointer
    std::atomic<uint32_t> refs_{1};
    int used_ = 0;
    Entry entries_[kMaxEntries];
};

const AttributeList::Table AttributeList::kTable = {
    {&AttributeList::queryInterface, &AttributeList::addRef, &AttributeList::unref},
    {&AttributeList::setInt, &AttributeList::getInt, &AttributeList::setFloat, &AttributeList::getFloat,
     &AttributeList::setString, &AttributeList::getString, &AttributeList::setBinary, &AttributeList::getBinary}};

// A message: an ID and its attribute list (held by the message).
class Message {
public:
    Message() { ++gLiveObjects; }
    ~Message() {
        if (attributes_)
            vst3abi::release(attributes_->list());
        --gLiveObjects;
    }
    bool create() {
        attributes_ = new (std::nothrow) AttributeList;
        return attributes_ != nullptr;
    }
    v3_message** message() { return static_cast<v3_message**>(static_cast<void*>(&table_)); }

    struct Table : v3_funknown {
        v3_message message;
    };

private:
    static Message* of(void* self) { return reinterpret_cast<Message*>(self); }
    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
        return answerInterface(self, iid, v3_message_iid, obj, &addRef);
    }
    static uint32_t V3_API addRef(void* self) { return ++of(self)->refs_; }
    static uint32_t V3_API unref(void* self) {
        const uint32_t left = --of(self)->refs_;
        if (left == 0)
            delete of(self);
        return left;
    }
    static const char* V3_API getId(void* self) { return of(self)->id_; }
    static void V3_API setId(void* self, const char* id) { vst3text::fromField(id, 127, of(self)->id_, 128); }
    static v3_attribute_list** V3_API getAttributes(void* self) { return of(self)->attributes_->list(); }

    static const Table kTable;
    const Table* table_ = &kTable;  // first member, as above
    std::atomic<uint32_t> refs_{1};
    char id_[128] = "";
    AttributeList* attributes_ = nullptr;
};

const Message::Table Message::kTable = {{&Message::queryInterface, &Message::addRef, &Message::unref},
                                        {&Message::getId, &Message::setId, &Message::getAttributes}};

// The host application object.
struct HostApplication {
    struct Table : v3_funknown {
        v3_host_application application;
    };
    const Table* table;

    static v3_result V3_API queryInterface(void* self, const v3_tuid iid, void** obj) {
        return answerInterface(self, iid, v3_host_application_iid, obj, nullptr);
    }
    static uint32_t V3_API noCount(void*) { return 1; }  // lives as long as the process
    static v3_result V3_API getName(void*, v3_str_128 name) {
        if (!name)
            return V3_INVALID_ARG;
        vst3text::toUtf16("Talvenor Live", name, 128);
        return V3_OK;
    }
    static v3_result V3_API createInstance(void*, v3_tuid cid, v3_tuid iid, void** obj) {
        if (!obj || !cid || !iid)
            return V3_INVALID_ARG;
        *obj = nullptr;
        void* created = nullptr;
        if (v3_tuid_match(cid, v3_message_iid)) {
            auto* message = new (std::nothrow) Message;
            if (!message || !message->create()) {
                delete message;
                return V3_NOMEM;
            }
            created = message->message();
        } else if (v3_tuid_match(cid, v3_attribute_list_iid)) {
            auto* list = new (std::nothrow) AttributeList;
            if (!list)
                return V3_NOMEM;
            created = list->list();
        } else {
            return V3_NO_INTERFACE;
        }
        // The answer is the interface asked for; the creation's own count is given back.
        void* answer = vst3abi::query(created, iid);
        vst3abi::release(created);
        if (!answer)
            return V3_NO_INTERFACE;
        *obj = answer;
        return V3_OK;
    }
};

const HostApplication::Table kHostTable = {
    {&HostApplication::queryInterface, &HostApplication::noCount, &HostApplication::noCount},
    {&HostApplication::getName, &HostApplication::createInstance}};
HostApplication gHost = {&kHostTable};

}  // namespace

v3_funknown** Vst3HostApplication::context() { return static_cast<v3_funknown**>(static_cast<void*>(&gHost.table)); }

int Vst3HostApplication::liveObjects() { return gLiveObjects.load(); }

// --- component handler ---

const Vst3ComponentHandler::Table Vst3ComponentHandler::kTable = {
    {&Vst3ComponentHandler::queryInterface, &Vst3ComponentHandler::addRef, &Vst3ComponentHandler::unref},
    {&Vst3ComponentHandler::beginEdit, &Vst3ComponentHandler::performEdit, &Vst3ComponentHandler::endEdit,
     &Vst3ComponentHandler::restartComponent}};

v3_result V3_API Vst3ComponentHandler::queryInterface(void* self, const v3_tuid iid, void** obj) {
    return answerInterface(self, iid, v3_component_handler_iid, obj, &addRef);
}
uint32_t V3_API Vst3ComponentHandler::addRef(void* self) { return ++of(self)->refs_; }
uint32_t V3_API Vst3ComponentHandler::unref(void* self) { return --of(self)->refs_; }
v3_result V3_API Vst3ComponentHandler::beginEdit(void* self, v3_param_id id) { return of(self)->target_->beginEdit(id); }
v3_result V3_API Vst3ComponentHandler::performEdit(void* self, v3_param_id id, double value) {
    return of(self)->target_->performEdit(id, value);
}
v3_result V3_API Vst3ComponentHandler::endEdit(void* self, v3_param_id id) { return of(self)->target_->endEdit(id); }
v3_result V3_API Vst3ComponentHandler::restartComponent(void* self, int32_t flags) {
    return of(self)->target_->restartComponent(flags);
}

// --- editor frame ---

const Vst3PlugFrame::Table Vst3PlugFrame::kTable = {
    {&Vst3PlugFrame::queryInterface, &Vst3PlugFrame::addRef, &Vst3PlugFrame::unref}, {&Vst3PlugFrame::resizeView}};

v3_result V3_API Vst3PlugFrame::queryInterface(void* self, const v3_tuid iid, void** obj) {
    return answerInterface(self, iid, v3_plugin_frame_iid, obj, &addRef);
}
uint32_t V3_API Vst3PlugFrame::addRef(void* self) { return ++of(self)->refs_; }
uint32_t V3_API Vst3PlugFrame::unref(void* self) { return --of(self)->refs_; }
v3_result V3_API Vst3PlugFrame::resizeView(void* self, v3_plugin_view** view, v3_view_rect* rect) {
    return of(self)->target_->resizeView(view, rect);
}

// --- empty event list ---

const Vst3EmptyEvents::Table Vst3EmptyEvents::kTable = {
    {&Vst3EmptyEvents::queryInterface, &Vst3EmptyEvents::noCount, &Vst3EmptyEvents::noCount},
    {&Vst3EmptyEvents::count, &Vst3EmptyEvents::get, &Vst3EmptyEvents::add}};

v3_result V3_API Vst3EmptyEvents::queryInterface(void* self, const v3_tuid iid, void** obj) {
    return answerInterface(self, iid, v3_event_list_iid, obj, nullptr);
}
uint32_t V3_API Vst3EmptyEvents::noCount(void*) { return 1; }
uint32_t V3_API Vst3EmptyEvents::count(void*) { return 0; }
v3_result V3_API Vst3EmptyEvents::get(void*, int32_t, v3_event*) { return V3_INVALID_ARG; }
v3_result V3_API Vst3EmptyEvents::add(void*, v3_event*) { return V3_OK; }  // an effect's notes are not used

#include "Vst3View.h"

#include <atomic>
#include <cstring>
#include <new>

namespace {

struct ViewTable : v3_funknown {
    v3_plugin_view view;
};

const ViewTable& viewTable();

struct Vst3View {
    const ViewTable* table = &viewTable();
    std::atomic<uint32_t> refs{1};
    Vst3ViewOwner& owner;
    ParameterView view;
    v3_plugin_frame** frame = nullptr;

    explicit Vst3View(Vst3ViewOwner& effect) : owner(effect), view(effect) { owner.retain(); }
    ~Vst3View() {
        view.close();
        if (frame)
            v3_cpp_obj_unref(frame);
        owner.release();
    }
};

// self is the address of the view's table pointer, its first member.
Vst3View* viewOf(void* self) { return static_cast<Vst3View*>(self); }

bool isHwnd(const char* type) { return type && std::strcmp(type, "HWND") == 0; }

v3_result V3_API query(void* self, const v3_tuid iid, void** obj) {
    if (!obj)
        return V3_INVALID_ARG;
    if (self && iid && (std::memcmp(iid, v3_funknown_iid, 16) == 0 || std::memcmp(iid, v3_plugin_view_iid, 16) == 0)) {
        ++viewOf(self)->refs;
        *obj = self;
        return V3_OK;
    }
    *obj = nullptr;
    return V3_NO_INTERFACE;
}
uint32_t V3_API ref(void* self) { return self ? ++viewOf(self)->refs : 0; }
uint32_t V3_API unref(void* self) {
    if (!self)
        return 0;
    const uint32_t left = --viewOf(self)->refs;
    if (left == 0)
        delete viewOf(self);
    return left;
}
v3_result V3_API platformSupported(void*, const char* type) { return isHwnd(type) ? V3_OK : V3_FALSE; }
v3_result V3_API attached(void* self, void* parent, const char* type) {
    if (!self || !parent || !isHwnd(type))
        return V3_INVALID_ARG;
    return viewOf(self)->view.open(parent) ? V3_OK : V3_FALSE;
}
v3_result V3_API removed(void* self) {
    if (!self)
        return V3_INVALID_ARG;
    viewOf(self)->view.close();
    return V3_OK;
}
v3_result V3_API wheel(void*, float) { return V3_FALSE; }
v3_result V3_API key(void*, int16_t, int16_t, int16_t) { return V3_FALSE; }
v3_result V3_API getSize(void* self, v3_view_rect* rect) {
    if (!self || !rect)
        return V3_INVALID_ARG;
    int32_t width = 0, height = 0;
    viewOf(self)->view.size(&width, &height);
    *rect = {0, 0, width, height};
    return V3_OK;
}
v3_result V3_API onSize(void* self, v3_view_rect* rect) {
    if (!self || !rect)
        return V3_INVALID_ARG;
    viewOf(self)->view.resize(rect->right - rect->left, rect->bottom - rect->top);
    return V3_OK;
}
v3_result V3_API focus(void*, v3_bool) { return V3_OK; }
v3_result V3_API setFrame(void* self, v3_plugin_frame** frame) {
    if (!self)
        return V3_INVALID_ARG;
    Vst3View* v = viewOf(self);
    if (frame)
        v3_cpp_obj_ref(frame);
    if (v->frame)
        v3_cpp_obj_unref(v->frame);
    v->frame = frame;
    return V3_OK;
}
v3_result V3_API canResize(void*) { return V3_OK; }
v3_result V3_API constrain(void* self, v3_view_rect* rect) {
    if (!self || !rect)
        return V3_INVALID_ARG;
    int32_t width = rect->right - rect->left, height = rect->bottom - rect->top;
    viewOf(self)->view.constrain(&width, &height);
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
    return V3_OK;
}

const ViewTable kViewTable = {{query, ref, unref},
                              {platformSupported, attached, removed, wheel, key, key, getSize, onSize, focus, setFrame,
                               canResize, constrain}};
const ViewTable& viewTable() { return kViewTable; }

}  // namespace

v3_plugin_view** createVst3View(Vst3ViewOwner& owner) {
    Vst3View* view = new (std::nothrow) Vst3View(owner);
    return view ? static_cast<v3_plugin_view**>(static_cast<void*>(&view->table)) : nullptr;
}

#include "MessageBoxes.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<MessageBoxObserver> g_observer{nullptr};
std::atomic<void*> g_observerContext{nullptr};
std::atomic<HWND> g_errorBoxOwner{nullptr};

const int kMaxStringText = 501;  // string-table texts are at most 500 characters
const int kMaxDetailText = 800;  // a path and a system message, each cut if need be

// A box on its way to the thread of its owner window.
struct PostedBox {
    HWND owner;
    UINT flags;
    char caption[64];
    char text[512];
};

bool postToOwnersThread(HWND owner, const char* text, const char* caption, UINT flags) {
    PostedBox* box = static_cast<PostedBox*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PostedBox)));
    if (!box)
        return false;
    box->owner = owner;
    box->flags = flags;
    std::snprintf(box->caption, sizeof box->caption, "%s", caption ? caption : "");
    std::snprintf(box->text, sizeof box->text, "%s", text ? text : "");
    if (PostMessageA(owner, postedMessageBoxMessage(), 0, reinterpret_cast<LPARAM>(box)))
        return true;
    HeapFree(GetProcessHeap(), 0, box);
    return false;
}

}  // namespace

UINT postedMessageBoxMessage() {
    static const UINT message = RegisterWindowMessageA("TalvenorLive.PostedMessageBox");
    return message;
}

void showPostedMessageBox(LPARAM posted) {
    PostedBox* box = reinterpret_cast<PostedBox*>(posted);
    if (!box)
        return;
    showMessageBox(IsWindow(box->owner) ? box->owner : nullptr, box->text, box->caption, box->flags);
    HeapFree(GetProcessHeap(), 0, box);
}

void setMessageBoxObserver(MessageBoxObserver observer, void* context) {
    g_observerContext = context;
    g_observer = observer;
}

int showMessageBox(HWND owner, const char* text, const char* caption, UINT flags) {
    const MessageBoxObserver observer = g_observer;
    if (observer) {
        const MessageBoxRequest request{owner, text, caption, flags};
        return observer(request, g_observerContext);
    }
    if (owner && GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) {
        if (postToOwnersThread(owner, text, caption, flags))
            return IDOK;
        owner = nullptr;
    }
    return MessageBoxA(owner, text, caption, flags);
}

void setErrorBoxOwner(HWND owner) { g_errorBoxOwner = owner; }

HWND errorBoxOwner() { return g_errorBoxOwner; }

bool loadStringText(int id, char* text, int size) {
    if (size <= 0)
        return false;
    text[0] = '\0';
    return LoadStringA(GetModuleHandleA(nullptr), UINT(id), text, size) > 0;
}

void showError(int id) { showErrorWithDetail(id, nullptr); }

void showErrorWithDetail(int id, const char* detail) {
    if (id == 0)
        return;
    const int entry = id > 0 ? id : -id;
    char text[kMaxStringText + kMaxDetailText];
    loadStringText(entry, text, kMaxStringText);
    if (detail && detail[0]) {
        const size_t used = std::strlen(text);
        std::snprintf(text + used, sizeof text - used, "\r\n\r\n%s", detail);
    }
    char caption[32];
    if (id > 0)
        std::snprintf(caption, sizeof caption, "Error #%d", id);
    else
        std::snprintf(caption, sizeof caption, "Talvenor Live");
    showMessageBox(errorBoxOwner(), text, caption, id > 0 ? MB_ICONERROR : MB_ICONINFORMATION);
}

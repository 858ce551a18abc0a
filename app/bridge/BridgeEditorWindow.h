#pragma once
// The bridge's window for its plug-in's editor: top-level and borderless, with no
// parent or owner in the program (a cross-process parent or owner would join the two
// processes' input, and a hung plug-in would hold the program's windows). The
// program places it over its editor frame, shows it, hides it and clips it; this
// side sizes it to the editor and, when the user brings it up, brings the program's
// window up just below it, so that the two stay one on the screen.
#include <atomic>
#include <cstdint>

#include "BridgeServer.h"
#include "WinInclude.h"

class BridgeEditorWindow final : public bridge::EditorWindowHost {
public:
    // UI thread (the plug-in's main thread): registers the window class. While the
    // editor is open, serveWaiting is called every few milliseconds from a timer of the
    // thread's, which also runs inside a modal loop of the plug-in's (its menu, its
    // dialog), where the bridge's serving loop does not.
    BridgeEditorWindow(HINSTANCE instance, void (*serveWaiting)());
    ~BridgeEditorWindow() override;
    BridgeEditorWindow(const BridgeEditorWindow&) = delete;
    BridgeEditorWindow& operator=(const BridgeEditorWindow&) = delete;

    bool open(PluginInstance& plugin, uint32_t programWindow, uint32_t* window, int32_t* width,
              int32_t* height) override;
    void close(PluginInstance& plugin) override;
    bool isOpen() const override { return window_.load(std::memory_order_acquire) != nullptr; }
    void takeSize(int32_t width, int32_t height) override;

private:
    HINSTANCE instance_;
    DWORD uiThread_;
    std::atomic<HWND> window_{nullptr};
    UINT_PTR serveTimer_ = 0;  // while open
    std::atomic<int32_t> width_{0}, height_{0};
};

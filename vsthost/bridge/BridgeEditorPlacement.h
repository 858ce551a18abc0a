#pragma once
// The program's side of a bridged editor (Windows): the bridge's top-level editor
// window kept over the view that holds its place in our editor frame. Every change
// goes to the bridge's window asynchronously (SetWindowPos with SWP_ASYNCWINDOWPOS,
// a posted clip), so that a bridge whose thread is busy or hung holds nothing of
// ours. The window is shown at the view's place, clipped to what of the view is
// neither outside its frames nor under a window above them, kept just above the
// program's window, and clipped to nothing while the view cannot be seen (a frame
// minimised, the program minimised). UI thread.
#include "BridgePlugin.h"
#include "WinInclude.h"

class BridgeEditorPlacement final : public bridge::EditorPlacement {
public:
    explicit BridgeEditorPlacement(DWORD bridgeProcessId) : bridgeProcess_(bridgeProcessId) {}
    ~BridgeEditorPlacement() override { detach(); }

    uint32_t topWindowOf(void* view) const override;
    bool attach(void* view, uint32_t bridgeWindow) override;
    void follow() override;
    void detach() override;
    bool owns(void* window) const override;

private:
    void showNothing();
    DWORD bridgeProcess_;
    HWND view_ = nullptr;
    HWND window_ = nullptr;  // the bridge's
    // What the window was last given, so that only a change is sent: shown_ once it
    // has been shown (it stays so until detached, clipped to nothing when unseen).
    bool shown_ = false;
    POINT at_{};
    RECT clip_{};
};

// The largest rectangle of shown that cover does not overlap: a side's strip
// beside cover, or shown itself when they do not meet.
RECT largestUncovered(const RECT& shown, const RECT& cover);

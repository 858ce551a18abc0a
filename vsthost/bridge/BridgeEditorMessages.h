#pragma once
// What the program and a bridge agree on about the bridge's editor windows: their
// class (so the program knows them among the windows above its own) and the one
// message the program posts to them. A post never waits for the bridge.
#include "WinInclude.h"

namespace bridge {

constexpr char kBridgeEditorClassName[] = "TalvenorBridgedEditor";

// The part of the window the program's editor frame shows (the rest is covered or
// outside its frame): wParam MAKEWPARAM(left, top), lParam MAKELPARAM(right,
// bottom), in the window's own pixels. Posted by the program.
constexpr UINT kBridgeEditorClipMessage = WM_APP + 0x640;
// Within the bridge: a size the plug-in asked for from a thread not the window's.
constexpr UINT kBridgeEditorSizeMessage = WM_APP + 0x641;

// A window handle as it crosses between the editions: 32 bits mean it in both.
inline uint32_t windowToWire(HWND window) { return uint32_t(reinterpret_cast<uintptr_t>(window)); }
inline HWND windowFromWire(uint32_t window) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(window)));  // sign-extended, as handles are
}

}  // namespace bridge

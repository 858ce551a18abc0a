#include "TapTempoKey.h"

#include "LiveSettings.h"
#include "ShellState.h"
#include "TapTempo.h"

namespace {

TapTempo g_taps;
// The message clock in milliseconds wraps every 49 days: the taps' clock counts the
// differences between messages instead, which stay small.
double g_seconds = 0.0;
DWORD g_lastTap = 0;
bool g_tapped = false;

double secondsAt(DWORD time) {
    return g_tapped ? g_seconds + double(DWORD(time - g_lastTap)) / 1000.0 : 0.0;
}

bool keyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

}  // namespace

bool isTapTempoKey(const MSG& message) {
    if (message.message != WM_KEYDOWN || message.wParam != 'T' || (message.lParam & (1 << 30)))
        return false;
    if (keyDown(VK_CONTROL) || keyDown(VK_MENU) || keyDown(VK_SHIFT))
        return false;
    HWND frame = g_windows.frame;
    if (!frame || GetActiveWindow() != frame)
        return false;
    return message.hwnd == frame || message.hwnd == g_windows.mdiClient || message.hwnd == g_windows.toolbar;
}

void tapTempoAt(DWORD messageTime) {
    g_seconds = secondsAt(messageTime);
    g_lastTap = messageTime;
    g_tapped = true;
    if (g_taps.tap(g_seconds) && g_liveSettings)
        g_liveSettings->tempo = g_taps.tempo();
}

bool tempoTapping(DWORD now) { return g_tapped && g_taps.tapping(secondsAt(now)); }

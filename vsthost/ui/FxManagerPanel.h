#pragma once
// The FX Manager panel: the live chain's gains, noise gate and DC filter, and the
// eight effect positions with their names, on/off switches and menus, on the
// faceplate picture. It keeps nothing but the position its menu works on; what it
// shows is read from the settings and the effect host. UI thread.
#include <cstdint>

#include "WinInclude.h"

class LiveSettings;
class EffectHost;

struct FxManagerContext {
    LiveSettings* settings;
    EffectHost* host;
    HMENU positionMenu;  // the effect position's pop-up (first pop-up of menu 146)
    // Runs the plug-in selection modally over owner: 0 when nothing was chosen,
    // otherwise n + 1 (or -(n + 1) for a favourite), n the entry of the plug-in list.
    int32_t (*selectPlugin)(HWND owner);
    // Opens (or brings forward) the editor of a position; false when it cannot.
    bool (*openEditor)(int32_t position);
    // The menu of a knob or switch (its control id) at screen point (x, y): MIDI
    // learn. Null: the controls have no menu.
    void (*controlMenu)(HWND panel, int controlId, int x, int y);
};

// Creates the panel (dialog 144) inside parent, filling its client area, shown.
// The context must outlive the panel.
HWND createFxManagerPanel(HINSTANCE instance, HWND parent, const FxManagerContext* context);
// Shows the settings and positions again (after a change made elsewhere).
void refreshFxManagerPanel(HWND panel);
// The position the menu and its commands work on.
int32_t fxManagerCurrentPosition(HWND panel);

// Grays the menu items that do nothing for position (empty, first or last).
void preparePositionMenu(HMENU menu, const LiveSettings& settings, int32_t position);

// The value texts (buffers of at least 16 bytes).
void formatGainText(float value, char* text);
void formatGateTimeText(float value, char* text);
void formatGateThresholdText(float value, char* text);

#pragma once
// The effects' editor windows: an MDI child per loaded effect holding either the
// plug-in's own editor or the generic parameter view (a row per parameter with its
// name, value text, unit and a bar dragged sideways), a programs button with the
// plug-in's program menu, and the periodic idle calls. UI thread.
#include <cstdint>

#include "WinInclude.h"

struct EffectSlot;
class EffectHost;
class LiveSettings;

constexpr char kEditorFrameClassName[] = "DGHSkdoUJURUJ";
constexpr char kEditorViewClassName[] = "DJHIUIRBOIS";

// Registers the frame and view classes; the frames become children of mdiClient.
bool registerEditorClasses(HWND mdiClient, HINSTANCE instance);
// The menu of a parameter of the generic parameter view (a right-click on its row),
// at screen point (x, y): MIDI learn. Null: the rows have no menu.
struct EffectSlot;
using ParameterMenu = void (*)(HWND view, const EffectSlot* slot, int32_t parameter, int x, int y);
void setParameterMenu(ParameterMenu menu);
// Unregisters them (a program hosted twice in one process registers them afresh).
void unregisterEditorClasses(HINSTANCE instance);
// Shows the slot's editor, creating it when needed; false when it cannot be opened.
bool openEditor(EffectSlot* slot);
void closeEditor(EffectSlot* slot);
// The editor of position p: fails outside 0..7, succeeds doing nothing when empty.
bool openPositionEditor(const LiveSettings& settings, int32_t position);
// The timer's idle calls: every plug-in's uiIdle (its editor's and its own idle).
// True when a plug-in was found failed (and told in a box): the FX Manager shows it.
bool idleSlots(EffectHost& host);
// While the user works in a plug-in's editor that is a window of another process's,
// the program looks as it does while they work in an editor of its own: its title
// stays lit and the frame holding that editor is the front one. At the program
// window's WM_NCACTIVATE going inactive: true when its title is to stay lit. Each
// tick: what the program's window is not told of (such an editor brought up from
// another program's window, or left for one).
bool pluginEditorInFront();
void followPluginEditorInFront(HWND programWindow);
// Builds the program menu of a slot (its items as the menu would show them).
HMENU buildProgramMenu(const EffectSlot* slot);

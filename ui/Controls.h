#pragma once
// The program's own controls, used by name in dialog templates and created as
// children: a knob turned by dragging vertically, a two-state switch, and a text
// field that reports clicks. Each tells its parent about user changes with
// WM_COMMAND (the control's identifier in the low word) and takes its value from
// the parent with WM_USER.
#include "WinInclude.h"

constexpr char kKnobClassName[] = "TALVENORLIVE2_KNOB";
constexpr char kSwitchClassName[] = "TALVENORLIVE2_SWITCH";
constexpr char kStaticClassName[] = "TALVENORLIVE2_STATIC";

// WM_USER to a knob: lParam = value x 1000 (0..1000). No notification.
// WM_USER to a switch: lParam = 0 or 1. No notification.
// WM_USER to a static: lParam = const char*, a text of fewer than 100 bytes; with
// wParam kStaticTag the small tag drawn at its right end instead (fewer than 16).
// A static tells its parent of a double-click (1), a right-click (0) and, made with
// SS_NOTIFY, the mouse moving over it (kStaticHovered).
constexpr UINT kSetControlValue = WM_USER;
constexpr WPARAM kStaticTag = 1;
constexpr LPARAM kStaticHovered = 2;

// Sent by a knob to its parent after every WM_COMMAND of a drag step:
// wParam = the knob's window, lParam = value x 1000.
constexpr UINT kKnobValueChanged = WM_USER + 100;

// Registers the three classes with the program's instance (knob, switch, static,
// in that order); false when one fails.
bool registerKnobClass(HINSTANCE instance);
bool registerSwitchClass(HINSTANCE instance);
bool registerStaticClass(HINSTANCE instance);
bool registerControlClasses(HINSTANCE instance);

// The controls' values, for tests and for code that reads rather than keeps them.
// -1 (or null) for a window that is not such a control.
float knobValue(HWND knob);
int switchValue(HWND switchControl);
const char* staticText(HWND staticControl);
const char* staticTag(HWND staticControl);
// The text colour a static draws with for its current text.
COLORREF staticTextColour(HWND staticControl);

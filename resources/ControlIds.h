#pragma once
// Resource numbers of the program's artwork and of the built-in driver's settings
// dialog. Shared by controls.rc and the code that loads them.

// Program icons (large and small).
#define IDI_PROGRAM 107
#define IDI_PROGRAM_SMALL 108

// Bitmaps.
#define IDB_MDI_BACKGROUND 131     // pattern behind the MDI children
#define IDB_VALUE_BAR 134          // 166 x 16, CPU display and parameter view bar
#define IDB_METER_BACKGROUND 137   // pattern of the VU meter windows
#define IDB_FX_PANEL 138           // FX Manager panel background
#define IDB_TOOLBAR_NORMAL 139     // 8 toolbar glyphs of 48 x 39, normal
#define IDB_TOOLBAR_ACTIVE 140     // 8 toolbar glyphs of 48 x 39, pressed and hot
#define IDB_KNOB_FRAMES 142        // 89 knob positions of 27 x 27
#define IDB_SWITCH_STATES 143      // off and on, 33 x 16
#define IDB_PROGRAMS_BUTTON 148    // 17 x 17, editor window's programs button
#define IDB_TRANSPORT_BUTTONS 149  // 6 navigation bar buttons of 35 x 35
#define IDB_NAVIGATION_PANEL 150   // navigation bar background, 293 x 130
#define IDB_POSITION_THUMB 151     // 2 position thumbs of 14 x 30
#define IDB_PARAMETER_HEADER 154   // 346 x 21, parameter view header
#define IDB_EDITOR_BACKGROUND 160  // pattern of the generic parameter view

// The built-in driver's settings dialog.
#define IDD_DRIVER_SETTINGS 154
#define IDC_DRIVER_BLOCK_SIZE 1002      // trackbar
#define IDC_DRIVER_LATENCY 1003         // static
#define IDC_DRIVER_SYNC_BY_INPUT 1004   // check box
#define IDC_DRIVER_NUM_BUFFERS 1005     // drop-down list
#define IDC_DRIVER_INPUT_DEVICE 1026    // drop-down list
#define IDC_DRIVER_OUTPUT_DEVICE 1027   // drop-down list
#define IDC_DRIVER_STEREO 1028          // check box
#define IDC_DRIVER_16_BITS 1029         // radio button
#define IDC_DRIVER_24_BITS 1030         // radio button
#define IDC_DRIVER_32_BITS 1031         // radio button
#define IDC_DRIVER_SAMPLE_RATE 1032     // drop-down list
#define IDC_DRIVER_MODE 1040            // drop-down list: WASAPI exclusive, WASAPI shared, DirectSound

// Style bit of the program's switch control (a class style of its own): the right
// button opens its parent's menu for it (WM_CONTEXTMENU) instead of flipping it.
#define SWITCH_HAS_MENU 0x0001L

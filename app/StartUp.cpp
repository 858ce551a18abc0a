// Start-up, the message loop and shut-down of the program.
#include <cstdio>
#include <new>

#include "WinInclude.h"
#include <commctrl.h>

#include "ControlIds.h"
#include "Controls.h"
#include "EffectHost.h"
#include "FrameWindow.h"
#include "EditorWindow.h"
#include "FxManagerWindow.h"
#include "PluginCommands.h"
#include "LiveEngine.h"
#include "LiveSettings.h"
#include "MessageBoxes.h"
#include "NavigationBar.h"
#include "Performance.h"
#include "PerformanceFiles.h"
#include "PluginFaultNote.h"
#include "ResourceIds.h"
#include "SettingsStore.h"
#include "SetlistKeys.h"
#include "SetlistMidi.h"
#include "SwitcherStage.h"
#include "SetlistSession.h"
#include "SetlistWindow.h"
#include "SharedResources.h"
#include "ShellState.h"
#include "StringIds.h"
#include "TakeJournal.h"
#include "TalvenorLive.h"
#include "Toolbar.h"
#include "TapTempoKey.h"
#include "TunerTap.h"
#include "ProgramMidi.h"
#include "ProgramMidiInputs.h"
#include "TunerWindow.h"
#include "TunerWorker.h"
#include "VuMeter.h"
#include "WaveDeck.h"

namespace {

HBRUSH g_mdiBackground = nullptr;
HBITMAP g_mdiBackgroundBitmap = nullptr;

bool createObjects() {
    g_liveEngine = new (std::nothrow) LiveEngine();
    if (g_liveEngine)
        g_liveSettings = new (std::nothrow) LiveSettings();
    if (g_liveSettings)
        g_effectHost = new (std::nothrow) EffectHost();
    if (g_effectHost)
        g_waveDeck = new (std::nothrow) WaveDeck();
    if (g_waveDeck)
        g_tuner = new (std::nothrow) TunerTap();
    if (g_tuner)
        g_tunerWorker = new (std::nothrow) TunerWorker(*g_tuner);
    if (!g_tunerWorker || !g_waveDeck->valid())
        return false;
    g_liveEngine->chain().attachSettings(g_liveSettings);
    g_liveEngine->chain().attachTuner(g_tuner);
    g_liveEngine->attachEffects(g_effectHost);
    g_liveEngine->attachRecorder(g_waveDeck);
    g_liveEngine->attachAccompaniment(g_waveDeck);
    g_effectHost->attachSettings(g_liveSettings);
    g_liveSettings->connectPositions(g_effectHost, g_liveEngine);
    return createProgramMidi();
}

// The engine goes first: deleting it closes the driver, so no callback runs while
// the others are destroyed.
void deleteObjects() {
    delete g_liveEngine;
    g_liveEngine = nullptr;
    deleteProgramMidi();
    delete g_liveSettings;
    g_liveSettings = nullptr;
    delete g_effectHost;
    g_effectHost = nullptr;
    delete g_waveDeck;
    g_waveDeck = nullptr;
    delete g_tunerWorker;  // its thread stops before the tuner it analyses goes
    g_tunerWorker = nullptr;
    delete g_tuner;
    g_tuner = nullptr;
}

HBRUSH patternBrush(HINSTANCE instance, int bitmapId, HBITMAP* keep = nullptr) {
    HBITMAP bitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(bitmapId));
    if (!bitmap)
        return nullptr;
    HBRUSH brush = CreatePatternBrush(bitmap);
    if (keep)
        *keep = bitmap;
    else
        DeleteObject(bitmap);  // the brush keeps its own copy of the pattern
    return brush;
}

bool registerShellClass(HINSTANCE instance, const char* name, WNDPROC procedure, HBRUSH background, bool icons,
                        const char* menu) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszMenuName = menu;
    windowClass.lpszClassName = name;
    if (icons) {
        windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
        windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM_SMALL));
    }
    return RegisterClassExA(&windowClass) != 0;
}

const char* const kClassNames[] = {kFrameClassName,         kFxManagerClassName, kToolbarClassName,
                                   kVuMeterClassName,       kTunerClassName,     kNavigationBarClassName,
                                   kKnobClassName,          kSwitchClassName,    kStaticClassName,
                                   kSetlistClassName};

bool registerWindowClasses(HINSTANCE instance) {
    HBRUSH face = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    return registerShellClass(instance, kFrameClassName, frameWindowProc, face, true,
                              MAKEINTRESOURCEA(IDM_MAIN_MENU)) &&
           registerShellClass(instance, kFxManagerClassName, fxManagerWindowProc, face, true, nullptr) &&
           registerToolbarClass(instance) && registerVuMeterClass(instance) && registerTunerClass(instance) &&
           registerSetlistClass(instance) &&
           registerShellClass(instance, kNavigationBarClassName, navigationBarProc,
                              patternBrush(instance, IDB_NAVIGATION_PANEL), false, nullptr) &&
           registerKnobClass(instance) && registerSwitchClass(instance) && registerStaticClass(instance);
}

// Classes go with the run, so a program hosted twice in one process (the tests)
// registers them afresh; the navigation bar's pattern brush goes with its class.
void unregisterWindowClasses(HINSTANCE instance) {
    WNDCLASSEXA navigation{};
    navigation.cbSize = sizeof navigation;
    HBRUSH navigationBrush = nullptr;
    if (GetClassInfoExA(instance, kNavigationBarClassName, &navigation))
        navigationBrush = navigation.hbrBackground;
    for (const char* name : kClassNames)
        UnregisterClassA(name, instance);
    unregisterEditorClasses(instance);
    if (navigationBrush)
        DeleteObject(navigationBrush);
}

bool createWindows(HINSTANCE instance) {
    g_windows.frame = CreateWindowExA(0, kFrameClassName, "Talvenor Live 2", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    if (!g_windows.frame)
        return false;
    CLIENTCREATESTRUCT client{};
    client.hWindowMenu = GetSubMenu(GetMenu(g_windows.frame), 2);
    client.idFirstChild = 1;
    g_windows.mdiClient =
        CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL, 0, kToolbarStripHeight, 0, 0,
                        g_windows.frame, nullptr, instance, &client);
    if (!g_windows.mdiClient)
        return false;
    setErrorBoxOwner(g_windows.mdiClient);
    g_mdiBackground = patternBrush(instance, IDB_MDI_BACKGROUND, &g_mdiBackgroundBitmap);
    if (g_mdiBackground)
        SetClassLongPtrA(g_windows.mdiClient, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(g_mdiBackground));

    g_windows.toolbar = createToolbar(g_windows.frame, instance);
    if (!g_windows.toolbar || !createVuMeters(g_windows.frame, instance))
        return false;
    g_windows.inputMeter = inputMeterWindow();
    g_windows.outputMeter = outputMeterWindow();
    g_windows.navigationBar = CreateWindowExA(WS_EX_TOOLWINDOW, kNavigationBarClassName, "Accompaniment Navigation Bar",
                                              WS_POPUP | WS_CAPTION, CW_USEDEFAULT, CW_USEDEFAULT, kNavigationBarWidth,
                                              kNavigationBarHeight, g_windows.frame, nullptr, instance, nullptr);
    g_windows.tuner = createTunerWindow(g_windows.frame, instance);
    g_windows.setlist = createSetlistWindow(g_windows.frame, instance);
    return g_windows.navigationBar != nullptr && g_windows.tuner != nullptr && g_windows.setlist != nullptr;
}

void loadClick(HINSTANCE instance) {
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(kClickResourceId), TALVENOR_CLICK_RESOURCE_TYPE);
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(instance, found) : 0;
    if (!data || size == 0) {
        showError(kStrClickMissing);
        return;
    }
    g_shell.click = static_cast<const int16_t*>(data);
    g_shell.clickBytes = size;
    g_liveEngine->setClick(g_shell.click, g_shell.clickBytes);
}

// Takes cut off when the program last ended (a crash, a killed process, a power cut)
// are repaired before anything else can record; the player is told once.
void reportRepairedTakes() {
    char repaired[2048];
    if (repairTakesLeftInProgress(repaired, sizeof repaired) > 0)
        showErrorWithDetail(-kStrTakesRepaired, repaired);
}

// A plug-in that crashed the program when it last ran is remembered before anything
// loads, so that it now opens in a process of its own; the player is told once the
// window is up. From here on a crash inside a plug-in is noted as it happens.
char g_crashedPlugin[260] = "";
void takeCrashedPluginBeforeLoading() {
    takeCrashedPlugin(g_crashedPlugin, sizeof g_crashedPlugin);
    installPluginFaultHandler();
}
void reportCrashedPlugin() {
    if (g_crashedPlugin[0])
        showErrorWithDetail(-kStrPluginCrashedTheProgram, g_crashedPlugin);
}

// Moves a window so that its client area's top-left corner lands on spot, the point
// its move notifications report and the settings keep.
void placeClientOrigin(HWND window, const WindowSpot& spot) {
    RECT outer;
    POINT origin{0, 0};
    if (!GetWindowRect(window, &outer) || !ClientToScreen(window, &origin))
        return;
    SetWindowPos(window, nullptr, spot.x - (origin.x - outer.left), spot.y - (origin.y - outer.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The saved client size and the position of the client area, as a window rectangle.
void placeFrame(HWND frame) {
    RECT rect{g_shell.framePosition.x, g_shell.framePosition.y, g_shell.framePosition.x + g_shell.frameSize.x,
              g_shell.framePosition.y + g_shell.frameSize.y};
    AdjustWindowRectEx(&rect, DWORD(GetWindowLongPtrA(frame, GWL_STYLE)), TRUE,
                       DWORD(GetWindowLongPtrA(frame, GWL_EXSTYLE)));
    MoveWindow(frame, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

// The window inside an MDI child that holds msg's window: the child itself, which
// is where keyboard navigation among a panel's controls happens.
HWND mdiChildHolding(HWND window) {
    HWND client = g_windows.mdiClient;
    while (window && window != client) {
        HWND parent = GetParent(window);
        if (parent == client)
            return window;
        if (!parent || !(GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD))
            return nullptr;
        window = parent;
    }
    return nullptr;
}

bool isRelayedMouseMessage(UINT message) {
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
        return true;
    default:
        return false;
    }
}

int runMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (TranslateMDISysAccel(g_windows.mdiClient, &message))
            continue;
        if (const int step = setlistKeyStep(message)) {
            stepSetlist(g_windows.frame, step);
            continue;
        }
        if (isTapTempoKey(message)) {
            tapTempoAt(message.time);
            continue;
        }
        if (g_windows.accelerators && TranslateAcceleratorA(g_windows.frame, g_windows.accelerators, &message))
            continue;
        HWND child = mdiChildHolding(message.hwnd);
        if (child && IsDialogMessageA(child, &message))
            continue;
        // Tab and the arrow keys among the tuner's controls.
        if (g_windows.tuner && IsChild(g_windows.tuner, message.hwnd) && IsDialogMessageA(g_windows.tuner, &message))
            continue;
        if (g_windows.setlist && IsChild(g_windows.setlist, message.hwnd) &&
            IsDialogMessageA(g_windows.setlist, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (g_windows.tooltip && isRelayedMouseMessage(message.message))
            SendMessageA(g_windows.tooltip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
    }
    return int(message.wParam);
}

void releaseWindowResources(HINSTANCE instance) {
    if (g_windows.frame && IsWindow(g_windows.frame))
        DestroyWindow(g_windows.frame);
    if (g_windows.tooltip && IsWindow(g_windows.tooltip))
        DestroyWindow(g_windows.tooltip);
    if (g_windows.effectMenu)
        DestroyMenu(g_windows.effectMenu);
    unregisterWindowClasses(instance);
    if (g_mdiBackground)
        DeleteObject(g_mdiBackground);
    if (g_mdiBackgroundBitmap)
        DeleteObject(g_mdiBackgroundBitmap);
    g_mdiBackground = nullptr;
    g_mdiBackgroundBitmap = nullptr;
    deleteSharedResources();
    setErrorBoxOwner(nullptr);
}

// A start-up failure: one box, everything made so far released, exit code 0.
int abandonStartUp(HINSTANCE instance, int stringId) {
    showError(stringId);
    if (g_liveEngine)
        g_liveEngine->closeDriver();
    releaseWindowResources(instance);
    stopProgramMidiInputs();
    deleteObjects();
    CoUninitialize();
    resetShellState();
    return 0;
}

StartUpPartTimes g_startUpTimes = {{"objects", "windows", "controls and resources", "click", "settings",
                                    "plug-in scan", "performance", "frame shown", "takes, MIDI, setlist"},
                                   {}};

}  // namespace

const StartUpPartTimes& lastStartUpPartTimes() { return g_startUpTimes; }

int runTalvenorLive(HINSTANCE instance, const char* commandLine) {
    PartClock clock(g_startUpTimes.ms);
    resetShellState();
    g_windows.instance = instance;
    g_windows.accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDA_MAIN_ACCELERATORS));
    CoInitialize(nullptr);

    if (!createObjects())
        return abandonStartUp(instance, kStrNoFreeMemory);
    clock.endOf(0);
    if (!registerWindowClasses(instance))
        return abandonStartUp(instance, kStrRegisterClassFailed);
    if (!createWindows(instance))
        return abandonStartUp(instance, kStrCreateWindowFailed);
    clock.endOf(1);

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    g_windows.tooltip = createToolbarTips(g_windows.toolbar, g_windows.navigationBar, instance);
    g_liveEngine->setOwnerWindow(g_windows.frame);
    g_liveEngine->setMeterWindows(g_windows.inputMeter, g_windows.outputMeter);
    createSharedResources(instance);
    if (!registerEditorClasses(g_windows.mdiClient, instance))
        return abandonStartUp(instance, kStrRegisterClassFailed);

    g_windows.effectMenu = LoadMenuA(instance, MAKEINTRESOURCEA(IDM_EFFECT_MENU));
    g_windows.effectPopup = g_windows.effectMenu ? GetSubMenu(g_windows.effectMenu, 0) : nullptr;

    clock.endOf(2);
    loadClick(instance);
    clock.endOf(3);

    prepareSettingsKeys();
    takeCrashedPluginBeforeLoading();
    const int32_t showState = loadSettings(g_windows.frame);
    g_shell.recordPlaces = true;
    if (showState != SW_SHOWMAXIMIZED)
        placeFrame(g_windows.frame);
    UpdateWindow(g_windows.frame);
    placeClientOrigin(g_windows.inputMeter, g_shell.inputMeterPosition);
    placeClientOrigin(g_windows.outputMeter, g_shell.outputMeterPosition);
    placeClientOrigin(g_windows.navigationBar, g_shell.navigationBarPosition);
    placeClientOrigin(g_windows.tuner, g_shell.tunerPosition);
    placeClientOrigin(g_windows.setlist, g_shell.setlistPosition);

    // The performance on the command line comes after the settings, which would
    // otherwise replace its accompaniment and file as the last ones used, and after
    // the plug-in scan, whose list finds a plug-in that has moved to another folder.
    clock.endOf(4);
    scanPluginsAtStart();
    clock.endOf(5);
    char performancePath[ShellValues::kPathSize];
    performancePathFromCommandLine(commandLine, performancePath, sizeof performancePath);
    const bool setlistNamed = performancePath[0] && isSetlistPath(performancePath);
    if (performancePath[0] && !setlistNamed)
        openCommandLinePerformance(g_windows.frame, performancePath);
    snapshotPerformance();
    setFrameTitle(g_windows.frame, g_liveSettings->performanceName);
    clock.endOf(6);
    ShowWindow(g_windows.frame, showState);
    UpdateWindow(g_windows.frame);
    clock.endOf(7);
    reportRepairedTakes();  // over the program's window, before anything can record
    reportCrashedPlugin();
    if (!startProgramMidiInputs())
        return abandonStartUp(instance, kStrNoFreeMemory);
    // A setlist on the command line opens in place of a performance, and the last
    // setlist opens when nothing is named; either brings its first usable entry on.
    startSwitcherStage();
    setSetlistTailSeconds(g_shell.setlistTailSeconds);
    setSetlistMidiHandler(handleSetlistMidi);
    if (setlistNamed || (!performancePath[0] && g_shell.setlistFile[0])) {
        char setlistPath[ShellValues::kPathSize];
        std::snprintf(setlistPath, sizeof setlistPath, "%s", setlistNamed ? performancePath : g_shell.setlistFile);
        if (openSetlistFile(g_windows.frame, setlistPath, true))
            showSetlistWindow();
    }
    clock.endOf(8);
    SetTimer(g_windows.frame, kFrameTimerId, kFrameTimerPeriod, nullptr);

    const int exitCode = runMessageLoop();
    setSetlistMidiHandler(nullptr);
    closeSetlistSession();
    closeSwitcherStage();  // before the effect host: it unloads what it made ready

    if (g_windows.frame && IsWindow(g_windows.frame))
        KillTimer(g_windows.frame, kFrameTimerId);
    stopProgramMidiInputs();  // before the control point they feed goes
    deleteObjects();
    if (g_windows.effectMenu)
        DestroyMenu(g_windows.effectMenu);
    g_windows.effectMenu = nullptr;
    CoUninitialize();
    releaseWindowResources(instance);
    resetShellState();
    return exitCode;
}

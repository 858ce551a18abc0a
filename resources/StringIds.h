#pragma once

// Numbers of the program's string-table entries (resources/talvenor-live.rc).
enum StringId : int {
    kStrCreateWindowFailed = 1,
    kStrRegisterClassFailed = 2,
    kStrNoFreeMemory = 3,
    kStrOpenDriverFailed = 4,
    kStrControlPanelFailed = 5,
    kStrOpenDeviceFirst = 6,
    kStrStartLiveInputFailed = 7,
    kStrRestartLiveInputFailed = 8,
    kStrFormatNotSupported = 9,
    kStrOpenEditorFailed = 12,
    kStrScanFailed = 14,
    kStrBadDirectory = 15,
    kStrLoadPluginFailed = 16,
    kStrPluginIsSynth = 17,
    kStrOpenAccompanimentFailed = 18,
    kStrFileOpenError = 19,
    kStrFileInvalidStructure = 20,
    kStrFileZeroLength = 21,
    kStrFileUnsupportedFormat = 22,
    kStrResetDriverFailed = 23,
    kStrRestartAudioFailed = 24,
    kStrOpenDeviceBeforeRecording = 25,
    kStrErrorOccured = 26,
    kStrRecordOverAccompaniment = 27,
    kStrNotEnoughMemory = 28,
    kStrCannotCreateFile = 29,
    kStrWriteFileFailed = 30,
    kStrRecordError = 31,
    kStrAccompanimentReadError = 32,
    kStrLoadPerformanceFailed = 34,
    kStrSavePerformanceFailed = 35,
    kStrClickMissing = 36,
    kStrDiskTooSlow = 40,
    kStrAddFavouriteFailed = 41,
    kStrRemoveFavouriteFailed = 42,
    kStrTunerStartFailed = 43,
    // The tuner window's caption and labels.
    kStrTunerCaption = 220,
    kStrTunerMuteOutput = 221,
    kStrTunerMuteTake = 222,
    kStrTunerReference = 223,
    kStrTunerHz = 224,
    // Opening a performance whose plug-ins or accompaniment cannot be found: "%s" is
    // the list of their paths, one a line.
    kStrPerformancePartsMissing = 206,
    // At start-up, takes cut off when the program last ended and repaired now; the
    // detail lists them, one a line with its length.
    kStrTakesRepaired = 207,
    // Opening a performance whose position holds a plug-in of a format no backend of
    // this build loads: the position (1 to 8), then the format's label twice.
    kStrPerformanceFormatMissing = 208,
    // Why a VST3 plug-in did not load or could not take a state: shown after its path.
    kStrVst3NoBinary = 320,
    kStrVst3OtherWidthOnly = 321,
    kStrVst3LoadFailed = 322,
    kStrVst3NoFactory = 323,
    kStrVst3InitFailed = 324,
    kStrVst3NoEffectClass = 325,
    kStrVst3IsInstrument = 326,
    kStrVst3ClassNotFound = 327,
    kStrVst3ComponentFailed = 328,
    kStrVst3NoProcessor = 329,
    kStrVst3ControllerFailed = 330,
    kStrVst3NoAudioBuses = 331,
    kStrVst3BusesRefused = 332,
    kStrVst3No32Bit = 333,
    kStrVst3SetupRefused = 334,
    kStrVst3ActivateRefused = 335,
    kStrVst3StateUnreadable = 336,
    kStrVst3StateRefused = 337,
    kStrVst3StateTooLarge = 338,
    kStrVst3NoMemory = 339,
    kStrVst3AbsurdAnswer = 340,
    kStrVst3OutOfOrder = 341,
    // Why a CLAP plug-in did not load: 342 + ClapFailure, in its order.
    kStrClapFirstFailure = 342,
    // Why stored MIDI bindings were refused: 361 + BindingsTextProblem - 1, and for a
    // refused binding 370 + BindingRefusal - 1, in their orders.
    kStrBindingsFirstProblem = 361,
    kStrBindingsFirstRefusal = 370,
    // Why a setlist could not be read or written: 376 + SetlistProblem - 1, in its order.
    kStrSetlistFirstProblem = 376,
    kStrSetlistEntriesMissing = 386,
    kStrEffectFailed = 387,
    // The names of MIDI control's targets (ControlTargets.h): 400 + ProgramControl,
    // 406 + ProgramSwitch, 409 + ProgramCommand, in their orders.
    kStrTargetFirstControl = 400,
    kStrTargetFirstSwitch = 406,
    kStrTargetBypass = 408,
    kStrTargetFirstCommand = 409,
    kStrTargetPluginParameter = 418,
    kStrTargetUnknown = 419,
    // A performance of the setlist that could not be made ready for its switch.
    kStrSwitchLoadFailed = 420,
    // Performances of a setlist that are missing or damaged, named together.
    kStrSetlistEntriesUnusable = 421,
    // MIDI input devices: boxes (a list of device names follows each) and the MIDI
    // Settings dialog's texts.
    kStrMidiDevicesMissing = 430,
    kStrMidiDeviceVanished = 431,
    kStrMidiDevicesOpenFailed = 432,
    kStrMidiTooManyDevices = 433,
    kStrMidiColumnDevice = 434,
    kStrMidiColumnState = 435,
    kStrMidiStateOpen = 436,
    kStrMidiStateMissing = 437,
    kStrMidiStateFailed = 438,
    kStrMidiNoDevices = 439,
    kStrMidiDevicesNote = 440,
    // MIDI learn: the control's menu, and the stored bindings refused (the reason follows).
    kStrMidiLearn = 441,
    kStrMidiForget = 442,
    kStrMidiBindingsUnreadable = 443,
    // The MIDI Bindings window.
    kStrMidiSourceController = 444,
    kStrMidiSourceNote = 445,
    kStrMidiSourceProgram = 446,
    kStrMidiChannelAny = 447,
    kStrMidiBehaviourContinuous = 448,
    kStrMidiBehaviourToggle = 449,
    kStrMidiBehaviourMomentary = 450,
    kStrMidiTargetNotLoaded = 451,
    kStrMidiColumnSource = 452,
    kStrMidiColumnChannel = 453,
    kStrMidiColumnTarget = 454,
    kStrMidiColumnBehaviour = 455,
    kStrMidiLearning = 456,
    kStrMidiSetlistEntryChoice = 457,
    kStrMidiBindingRefused = 458,
    kStrMidiBehaviourUnfit = 459,
    kStrMidiPerformanceBindingsUnreadable = 460,
};

// The metronome click: 16-bit little-endian mono samples, no header.
enum : int { kClickResourceId = 155 };
#define TALVENOR_CLICK_RESOURCE_TYPE "RAW"

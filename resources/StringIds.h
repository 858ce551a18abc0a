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
};

// The metronome click: 16-bit little-endian mono samples, no header.
enum : int { kClickResourceId = 155 };
#define TALVENOR_CLICK_RESOURCE_TYPE "RAW"

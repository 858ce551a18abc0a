#include "RigRender.h"

#include <cstdio>
#include <new>
#include <string>

#include "MessageBoxes.h"
#include "RateConverter.h"
#include "RecordingFormat.h"
#include "RenderDriver.h"
#include "RigEffects.h"
#include "RigSession.h"
#include "RigShow.h"
#include "RigTunerLines.h"
#include "StringIds.h"
#include "WinInclude.h"

namespace {

const double kProgressFromSeconds = 5.0;  // shorter inputs render before a bar would help

std::string fullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full) : path;
}

std::string systemReason(unsigned long code) {
    if (code == 0)
        return "not enough memory";
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                   text, sizeof text, nullptr);
    std::string reason = n ? std::string(text, n) : "error " + std::to_string(code);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}

void showWithDetail(int id, const std::string& detail) { showErrorWithDetail(id, detail.c_str()); }

std::string clock(double seconds) {
    const long whole = long(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// "[########............]  42%   63.1x real time   0:07 left", redrawn in place.
void printProgress(uint64_t done, uint64_t total, double rate, double elapsed) {
    const int width = 30;
    const double share = total ? double(done) / double(total) : 1.0;
    const int filled = int(share * width);
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    const double speed = elapsed > 0.0 ? double(done) / rate / elapsed : 0.0;
    const double left = speed > 0.0 ? double(total - done) / rate / speed : 0.0;
    std::printf("\r[%s] %3d%%  %7.1fx real time  %s left ", bar, int(share * 100.0), speed,
                speed > 0.0 ? clock(left).c_str() : "-:--");
    std::fflush(stdout);
}

// The output format: the entry asked for, or 24-bit stereo at the input's rate.
FormatRecord outputEntry(int index, uint32_t inputRate) {
    const RecordingFormatTable table;
    if (index < 0) {
        index = RecordingFormatTable::indexOf(24, 2, inputRate);
        if (index < 0)
            index = RecordingFormatTable::indexOf(24, 2, 48000);
    }
    return table.entries[index];
}

// Effects, bypass, backing track, metronome, gains and gate, as for a live session.
// Shows what fails and returns false.
bool setUpSession(RigSession& s, const RigOptions& o) {
    uint32_t clickBytes = 0;
    const int16_t* click = loadClickResource(&clickBytes);
    if (!click && o.metronome)
        showError(kStrClickMissing);
    s.engine().setClick(click, clickBytes);
    if (!setUpRigEffects(s, o))
        return false;
    if (!o.backing.empty()) {
        if (!s.deck().openAccompaniment(fullPath(o.backing).c_str())) {
            showWithDetail(kStrOpenAccompanimentFailed, fullPath(o.backing));
            return false;
        }
        s.deck().play();
    }
    s.settings().metronome = o.metronome ? 1 : 0;
    s.settings().tempo = int32_t(o.tempoBpm * 100.0);
    s.settings().ingain = o.inputGain;
    s.settings().outgain = o.outputGain;
    applyGateOptions(o.gate, s.settings());
    return true;
}

// What the render waits for before it runs the next block.
struct HoldBack {
    WaveDeck* deck;
    TunerTap* tuner;
    RigShow* show;  // MIDI events the loop has not acted on yet (a switch to make)
    static bool busy(void* context) {
        const HoldBack* h = static_cast<const HoldBack*>(context);
        // A quarter of a second of input not yet analysed holds the render back.
        return (h->deck && h->deck->isBlockPending()) || (h->tuner && h->tuner->pendingSamples() > 12000) ||
               (h->show && RigShow::busy(h->show));
    }
};

// Runs the render to its end (or Ctrl+C) with live input on the render driver.
// False when live input could not start.
bool runToEnd(RigSession& s, RenderDriver& driver, RenderStopRequest stopRequested, void* context, bool recording,
              bool tuner, double* seconds, RigShow* show) {
    if (!s.engine().startLiveInput()) {
        showError(kStrStartLiveInputFailed);
        return false;
    }
    const double rate = double(s.engine().driverFigures().sampleRate);
    const bool showProgress = double(driver.totalFrames()) / rate > kProgressFromSeconds;
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (;;) {
        // The render waits for the show's switches: they are looked after at once.
        const bool ended = WaitForSingleObject(driver.endedEvent(), show ? 1 : 200) == WAIT_OBJECT_0;
        if (show)
            show->service();
        recording = s.serviceErrorFlags(recording);
        QueryPerformanceCounter(&now);
        *seconds = double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
        if (tuner)
            printTunerLines(s.tuner(), showProgress);
        if (showProgress)
            printProgress(driver.framesDone(), driver.totalFrames(), rate, *seconds);
        if (ended || (stopRequested && stopRequested(context)))
            break;
    }
    if (tuner) {
        while (s.tuner().pendingSamples() > 0)  // the last of the input, analysed
            Sleep(5);
        Sleep(20);
        printTunerLines(s.tuner(), showProgress);
    }
    if (showProgress)
        std::printf("\n");
    s.engine().stopLiveInput();
    if (show)
        show->service();
    recording = s.serviceErrorFlags(recording);
    if (recording && !s.deck().stopRecording())
        showError(kStrRecordError);
    return true;
}

}  // namespace

void applyGateOptions(const GateOptions& gate, LiveSettings& settings) {
    if (gate.thresholdSet)
        settings.gateThresh = gate.threshold;
    if (gate.openingSet)
        settings.gateAttack = gate.opening;
    if (gate.closingSet)
        settings.gateRelease = gate.closing;
}

int runRender(const RigOptions& o, RenderStopRequest stopRequested, void* context) {
    if (o.render.output.empty()) {
        std::fprintf(stderr, "talvenor-rig: --render needs --out FILE\n");
        return 2;
    }
    const std::string inPath = fullPath(o.render.input);
    const std::string outPath = fullPath(o.render.output);
    if (lstrcmpiA(inPath.c_str(), outPath.c_str()) == 0 ||
        lstrcmpiA(inPath.c_str(), RenderOutput::temporaryPathFor(outPath).c_str()) == 0) {
        std::fprintf(stderr, "talvenor-rig: the output would overwrite the input %s\n", inPath.c_str());
        return 2;
    }
    if (o.record && !o.take.empty()) {
        const std::string takePath = fullPath(o.take);
        if (lstrcmpiA(takePath.c_str(), inPath.c_str()) == 0 || lstrcmpiA(takePath.c_str(), outPath.c_str()) == 0 ||
            lstrcmpiA(takePath.c_str(), RenderOutput::temporaryPathFor(outPath).c_str()) == 0) {
            std::fprintf(stderr, "talvenor-rig: the take %s would overwrite the input or the output\n",
                         takePath.c_str());
            return 2;
        }
    }

    RenderInput input;
    const WaveOpenResult opened = input.open(inPath.c_str());
    if (opened != WaveOpenResult::Ok) {
        std::string detail = inPath;
        if (input.systemError())
            detail += ": " + systemReason(input.systemError());
        showWithDetail(stringIdFor(opened), detail);
        return 1;
    }
    // The chain runs at most at 96 kHz, as it does with any driver.
    if (input.rate() > 96000) {
        showWithDetail(kStrFileUnsupportedFormat, inPath + ": " + std::to_string(input.rate()) +
                                                      " Hz; the chain runs at 96000 Hz at most");
        return 1;
    }

    // The output is converted from the input's rate; beyond the converter's reach the
    // output would stay empty.
    const FormatRecord entry = outputEntry(o.render.outFormat, input.rate());
    if (entry.samplesPerSec > uint64_t(input.rate()) * RateTable::kMaxRatio ||
        input.rate() > uint64_t(entry.samplesPerSec) * RateTable::kMaxRatio) {
        showWithDetail(kStrFileUnsupportedFormat, inPath + ": " + std::to_string(input.rate()) +
                                                      " Hz cannot be converted to the output's " +
                                                      std::to_string(entry.samplesPerSec) + " Hz");
        return 1;
    }

    RenderOutput output;
    if (!output.create(outPath.c_str(), entry, input.rate())) {
        showWithDetail(kStrCannotCreateFile, output.temporaryPath() + ": " + systemReason(output.systemError()));
        return 1;
    }

    RenderPlan plan;
    plan.blockFrames = o.bufferFrames > 0 ? o.bufferFrames : plan.blockFrames;
    plan.tailFrames = uint32_t(o.render.tailSeconds * input.rate() + 0.5);
    plan.realtime = o.render.realtime;
    RenderDriver* driver = new (std::nothrow) RenderDriver(input, output, plan);
    if (!driver) {
        output.discard();
        showError(kStrNoFreeMemory);
        return 1;
    }

    bool started = false;
    double seconds = 0.0;
    {
        RigSession s;
        RigShow show(s, o);
        bool ready = setUpSession(s, o) && show.setUp() && s.engine().openDriverObject(driver);
        bool recording = false;
        if (ready && o.record && !o.take.empty()) {
            s.deck().formatIndex = int8_t(o.formatIndex);
            s.deck().ramMode = o.ramTake;
            s.deck().playingOnly = o.playingOnly;
            s.deck().startAccompaniment = !o.backing.empty();
            recording = ready = s.deck().startRecording(fullPath(o.take).c_str());
            if (!ready)
                showError(kStrErrorOccured);
        }
        // A direct take's writer thread, and the tuner's analysis, must keep up with a
        // render at full speed.
        HoldBack holdBack{recording && !o.ramTake ? &s.deck() : nullptr, o.tuner ? &s.tuner() : nullptr,
                          show.wanted() ? &show : nullptr};
        if (holdBack.deck || holdBack.tuner || holdBack.show)
            driver->holdBackWhile(&HoldBack::busy, &holdBack);
        if (ready && o.tuner && !s.startTuner()) {
            showError(kStrErrorOccured);
            ready = false;
        }
        if (ready)
            started = runToEnd(s, *driver, stopRequested, context, recording, o.tuner, &seconds,
                               show.wanted() ? &show : nullptr);
        // The session closes the driver before the files are finished.
    }
    const RenderOutcome outcome = driver->outcome();
    const double rendered = double(driver->framesDone()) / input.rate();
    driver->Release();

    if (!started) {
        output.discard();
        return 1;
    }
    if (outcome == RenderOutcome::Complete) {
        if (!output.commit()) {
            showWithDetail(kStrWriteFileFailed, outPath + ": " + systemReason(output.systemError()));
            return 1;
        }
        std::printf("rendered %s: %.1f s in %.2f s (%.1fx real time)\n", outPath.c_str(), rendered, seconds,
                    seconds > 0.0 ? rendered / seconds : 0.0);
        return 0;
    }

    // What was rendered stays, as a valid file beside the output; the output is untouched.
    const bool kept = output.keepPartial();
    char where[64];
    std::snprintf(where, sizeof where, " at %.2f s", rendered);
    if (outcome == RenderOutcome::InputFailed) {
        const std::string reason = input.endedEarly()
                                       ? "the file ends before its header says it does"
                                       : systemReason(input.systemError());
        showWithDetail(kStrFileOpenError, inPath + where + ": " + reason);
    } else if (outcome == RenderOutcome::OutputFailed) {
        showWithDetail(kStrWriteFileFailed, output.temporaryPath() + where + ": " + systemReason(output.systemError()));
    } else {
        std::printf("render stopped%s\n", where);
    }
    if (kept)
        std::printf("what was rendered is in %s\n", output.temporaryPath().c_str());
    return 1;
}

// Timing of the windowed program under Wine, printed as medians:
//   - the frame's timer tick on the UI thread, with live input running through the
//     built-in driver and an instrument whose level keeps moving, so that both
//     meters repaint (the tick repaints a changed meter at once);
//   - start-up of talvenor-live.exe to a visible frame, over five starts.
// usage: live_window_bench [path of talvenor-live.exe]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "DriverSettings.h"
#include "FrameWindow.h"
#include "HostedProgram.h"
#include "LiveEngine.h"
#include "RegistryKeys.h"
#include "TalvenorLive.h"
#include "ResourceIds.h"
#include "ShellState.h"
#include "UnixPrograms.h"
#include "VuMeter.h"
#include "WavFiles.h"
#include "WinDriver.h"

using namespace windriver;

namespace {

const int kTicks = 200;
const int kStarts = 5;

double counterMs(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(ticks) * 1000.0 / double(frequency.QuadPart);
}

double median(std::vector<double> values) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

// Timing of WM_TIMER on the frame, through a window procedure put in front of it.
WNDPROC g_frameProc = nullptr;
std::vector<double> g_tickMs;
std::vector<double> g_partMs[TickPartTimes::kParts];
int g_ticksWithRepaint = 0;

LRESULT CALLBACK timedFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER || int(g_tickMs.size()) >= kTicks)
        return CallWindowProcA(g_frameProc, frame, message, wParam, lParam);
    const int before = meterLitSegments(inputMeterWindow(), 0) + meterLitSegments(outputMeterWindow(), 1);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const LRESULT result = CallWindowProcA(g_frameProc, frame, message, wParam, lParam);
    QueryPerformanceCounter(&end);
    const int after = meterLitSegments(inputMeterWindow(), 0) + meterLitSegments(outputMeterWindow(), 1);
    g_tickMs.push_back(counterMs(end.QuadPart - start.QuadPart));
    for (int part = 0; part < TickPartTimes::kParts; ++part)
        g_partMs[part].push_back(lastTickPartTimes().ms[part]);
    if (after != before)
        ++g_ticksWithRepaint;
    return result;
}

// The meters' painting, wherever it happens (in the tick or after it, from WM_PAINT).
WNDPROC g_meterProcs[2] = {nullptr, nullptr};
std::vector<double> g_meterPaintMs;

LRESULT timedMeterPaint(int which, HWND meter, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT)
        return CallWindowProcA(g_meterProcs[which], meter, message, wParam, lParam);
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const LRESULT result = CallWindowProcA(g_meterProcs[which], meter, message, wParam, lParam);
    QueryPerformanceCounter(&end);
    g_meterPaintMs.push_back(counterMs(end.QuadPart - start.QuadPart));
    return result;
}
LRESULT CALLBACK timedInputMeterProc(HWND meter, UINT message, WPARAM wParam, LPARAM lParam) {
    return timedMeterPaint(0, meter, message, wParam, lParam);
}
LRESULT CALLBACK timedOutputMeterProc(HWND meter, UINT message, WPARAM wParam, LPARAM lParam) {
    return timedMeterPaint(1, meter, message, wParam, lParam);
}

// An instrument whose level swells and fades three times a second.
std::string writeSwellingTone() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + "talvenor-bench-swell.wav";
    const size_t frames = 44100 * 30;
    std::vector<std::vector<float>> tone(2, std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / 44100.0;
        const double level = std::pow(10.0, (-30.0 + 27.0 * (0.5 + 0.5 * std::sin(2.0 * 3.14159265 * 3.0 * t))) / 20.0);
        tone[0][i] = float(level * std::sin(2.0 * 3.14159265 * 220.0 * t));
        tone[1][i] = 0.5f * tone[0][i];
    }
    writeWav16(path, 44100, tone);
    return path;
}

bool timerTickBench() {
    forgetProgramSettings();
    createSettingsKeys();
    saveDriverChoices("Monitor of instrument", "speakers", 1024, 4);
    RegistryKey key(kSettingsKeyPath, false);
    key.setText("asioDevice", kBuiltInDriverName);
    const std::string tone = writeSwellingTone();

    HostedProgram program;
    if (!program.start(""))
        return false;
    HWND frame = program.waitForFrame(20000);
    if (!frame || g_liveEngine->currentDriver() < 0) {
        std::printf("timer tick: the program or its driver did not start\n");
        return false;
    }
    postCommand(frame, IDC_CMD_LIVE_INPUT);
    if (!waitUntil([] { return g_liveEngine->running(); }, 10000)) {
        std::printf("timer tick: live input did not start\n");
        return false;
    }
    playIntoSink("instrument", tone);
    Sleep(1000);
    HWND meters[2] = {inputMeterWindow(), outputMeterWindow()};
    const WNDPROC meterProcs[2] = {timedInputMeterProc, timedOutputMeterProc};
    for (int i = 0; i < 2; ++i)
        g_meterProcs[i] = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(meters[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(meterProcs[i])));
    g_frameProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(timedFrameProc)));
    waitUntil([] { return int(g_tickMs.size()) >= kTicks; }, 60000);
    SetWindowLongPtrA(frame, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_frameProc));
    for (int i = 0; i < 2; ++i)
        SetWindowLongPtrA(meters[i], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_meterProcs[i]));
    const int cpuLoad = g_liveEngine->cpuLoad();
    program.close(20000);
    stopPlayers("talvenor-bench-swell");

    std::vector<double> sorted = g_tickMs;
    std::sort(sorted.begin(), sorted.end());
    std::printf("timer tick (live input running, meters repainting): median %.3f ms, 90th percentile %.3f ms, "
                "max %.3f ms over %zu ticks (%d with a meter change); driver thread load %.1f %%\n",
                median(g_tickMs), sorted.empty() ? NAN : sorted[sorted.size() * 9 / 10],
                sorted.empty() ? NAN : sorted.back(), g_tickMs.size(), g_ticksWithRepaint, cpuLoad * 0.1);
    if (!g_meterPaintMs.empty()) {
        std::vector<double> paints = g_meterPaintMs;
        std::sort(paints.begin(), paints.end());
        std::printf("meter paints: median %.3f ms, 90th percentile %.3f ms, max %.3f ms over %zu paints\n",
                    median(paints), paints[paints.size() * 9 / 10], paints.back(), paints.size());
    }
    // Where the time goes: each part's median, 90th percentile and largest.
    for (int part = 0; part < TickPartTimes::kParts; ++part) {
        std::vector<double> times = g_partMs[part];
        if (times.empty())
            continue;
        std::sort(times.begin(), times.end());
        std::printf("  %-18s median %.3f ms, 90th percentile %.3f ms, max %.3f ms\n", lastTickPartTimes().names[part],
                    median(times), times[times.size() * 9 / 10], times.back());
    }
    return !g_tickMs.empty();
}

// Start-up of a program to its first visible window of the class, median and max
// over kStarts starts; NAN when it did not start.
bool timeStarts(const std::string& path, const char* className, std::vector<double>& startMs) {
    for (int run = 0; run < kStarts; ++run) {
        forgetProgramSettings();
        LARGE_INTEGER start, shown;
        QueryPerformanceCounter(&start);
        ProgramProcess program;
        if (!program.start(path, ""))
            return false;
        HWND window = nullptr;
        waitUntil([&] { return (window = findTopWindow(program.processId(), className)) != nullptr; }, 20000);
        QueryPerformanceCounter(&shown);
        if (!window)
            return false;
        startMs.push_back(counterMs(shown.QuadPart - start.QuadPart));
        program.close(window, 20000);
    }
    return true;
}

bool startUpBench(const std::string& programPath, const std::string& emptyPath) {
    std::vector<double> startMs, emptyMs;
    if (!timeStarts(programPath, kFrameClassName, startMs) || !timeStarts(emptyPath, "TALVENOR_EMPTY_WINDOW", emptyMs))
        return false;
    std::printf("start-up to a visible frame: median %.0f ms, max %.0f ms over %d starts; "
                "an empty window program: median %.0f ms, max %.0f ms\n",
                median(startMs), *std::max_element(startMs.begin(), startMs.end()), kStarts, median(emptyMs),
                *std::max_element(emptyMs.begin(), emptyMs.end()));

    // The program's own parts, timed inside it: hosted here, so that its process's
    // creation (Wine's part, above) is left out.
    std::vector<double> partMs[StartUpPartTimes::kParts];
    for (int run = 0; run < kStarts; ++run) {
        forgetProgramSettings();
        HostedProgram program;
        if (!program.start("") || !program.waitForFrame(20000) || !waitForTicks(1)) {
            program.close(20000);
            return false;
        }
        for (int part = 0; part < StartUpPartTimes::kParts; ++part)
            partMs[part].push_back(lastStartUpPartTimes().ms[part]);
        program.close(20000);
    }
    double total = 0.0;
    for (int part = 0; part < StartUpPartTimes::kParts; ++part) {
        const double m = median(partMs[part]);
        total += m;
        std::printf("  %-24s median %.1f ms, max %.1f ms\n", lastStartUpPartTimes().names[part], m,
                    *std::max_element(partMs[part].begin(), partMs[part].end()));
    }
    std::printf("  %-24s %.1f ms (sum of the medians)\n", "the program's own parts", total);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string programPath = argc > 1 ? argv[1] : "";
    if (programPath.empty()) {
        char own[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, own, sizeof own);
        std::string folder = own;
        folder = folder.substr(0, folder.find_last_of('\\') + 1);
        programPath = folder + "..\\..\\bin\\talvenor-live.exe";
    }
    const bool ticks = timerTickBench();
    char own[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, own, sizeof own);
    std::string emptyPath = own;
    emptyPath = emptyPath.substr(0, emptyPath.find_last_of('\\') + 1) + "empty_window.exe";
    const bool starts = startUpBench(programPath, emptyPath);
    return ticks && starts ? 0 : 1;
}

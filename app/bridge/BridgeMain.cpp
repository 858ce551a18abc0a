// talvenor-bridge: runs one plug-in for the program in a process of its own, so that
// a plug-in that crashes or hangs takes only this process with it. Started by the
// program with its process id, the base name of the region and bells it made, and
// the plug-in's format, class and path. Ends when told to, or when the program is gone.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "BridgeEditorWindow.h"
#include "BridgeServer.h"
#include "BuiltInFormats.h"
#include "ProAudioThread.h"
#include "WindowsBell.h"
#include "WindowsIdler.h"

#include <shellapi.h>

using namespace bridge;

namespace {

Region* g_region = nullptr;
BridgeServer* g_server = nullptr;

// Inside a modal loop of the plug-in's (its editor's menu or dialog) the program's
// calls are answered from the editor window's timer, since the serving loop is not running.
void serveFromModalLoop() {
    if (g_server)
        g_server->serveWaitingUi();
}

// A fault in the plug-in: the program is told it crashed, and the process ends at
// once rather than wait for a debugger or the system's crash report.
LONG WINAPI endOnFault(EXCEPTION_POINTERS*) {
    if (g_region)
        g_region->news.fetch_or(kNewsCrashed);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// What the plug-in may ask before it is configured; the program's figures follow.
class BridgeFacts : public PluginHostInfo {
public:
    double sampleRate() const override { return 48000.0; }
    int32_t maxBlockFrames() const override { return 1024; }
    double tempo() const override { return 120.0; }
};

struct Arguments {
    DWORD program = 0;
    std::wstring name;
    std::string format, classId, path;
};

bool readArguments(Arguments& a) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words)
        return false;
    auto narrow = [](const wchar_t* w) {
        char text[2048];
        const int n = WideCharToMultiByte(CP_ACP, 0, w, -1, text, sizeof text, nullptr, nullptr);
        return n > 0 ? std::string(text) : std::string();
    };
    for (int i = 1; i < count; ++i) {
        const std::wstring word = words[i];
        const bool more = i + 1 < count;
        if (word == L"--program" && more)
            a.program = DWORD(wcstoul(words[++i], nullptr, 10));
        else if (word == L"--name" && more)
            a.name = words[++i];
        else if (word == L"--format" && more)
            a.format = narrow(words[++i]);
        else if (word == L"--class" && more)
            a.classId = narrow(words[++i]);
        else
            a.path = narrow(words[i]);
    }
    LocalFree(words);
    return a.program && !a.name.empty() && !a.path.empty();
}

}  // namespace

int main() {
    Arguments args;
    if (!readArguments(args)) {
        std::fprintf(stderr, "talvenor-bridge: started without the program's arguments\n");
        return 2;
    }
    HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, args.program);
    wchar_t name[160];
    bridgeObjectName(name, 160, args.name.c_str(), L"region");
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
    auto* region = mapping ? static_cast<Region*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    MEMORY_BASIC_INFORMATION mapped = {};
    if (!program || !region || !VirtualQuery(region, &mapped, sizeof mapped) ||
        !regionSpeaksOurs(region, mapped.RegionSize)) {
        std::fprintf(stderr, "talvenor-bridge: the program's memory is not there or not ours\n");
        return 3;
    }
    g_region = region;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(endOnFault);
    WindowsBell bells[4];
    for (int i = 0; i < 4; ++i) {
        bridgeObjectName(name, 160, args.name.c_str(), kBellNames[i]);
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
        if (!event) {
            std::fprintf(stderr, "talvenor-bridge: the program's signals are not there\n");
            return 3;
        }
        bells[i].attach(event, program);
    }
    // The program rings "to", this side waits there; it rings "from" for the program.
    // This thread holds the editor's window: its messages are dispatched as it waits.
    bells[0].dispatchMessagesWhileWaiting();
    BridgeServer server(region, bells[0], bells[1], bells[2], bells[3]);
    BridgeEditorWindow editorWindow(GetModuleHandleA(nullptr), serveFromModalLoop);
    server.attachEditorWindow(&editorWindow);
    g_server = &server;

    BridgeFacts facts;
    PluginFormatBackend* backends[8] = {};
    const int backendCount = createBuiltInBackends(&facts, backends, 8);
    PluginFormatBackend* backend = nullptr;
    for (int i = 0; i < backendCount && !backend; ++i)
        if (args.format == backends[i]->formatLabel())
            backend = backends[i];
    char failure[400] = "";
    PluginInstance* plugin = nullptr;
    if (!backend)
        std::snprintf(failure, sizeof failure, "the bridge has no %s support", args.format.c_str());
    else
        plugin = backend->load(args.path.c_str(), args.classId.c_str(), &server, failure, sizeof failure);
    if (plugin)
        server.attach(plugin);
    else
        server.setLoadFailure(failure);

    // The plug-in's main thread is this one, which loaded it; its audio thread another.
    std::atomic<bool> stop{false};
    WindowsIdler idler(args.program);
    std::thread audio([&] {
        // Scheduled as the program's own audio thread is: each block is that thread's
        // wait, and an ordinary thread here would wait behind every other on the machine.
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        const ProAudioThread scheduling;
        server.serveAudio(stop, &idler);
    });
    server.serveUi();
    g_server = nullptr;
    if (plugin && editorWindow.isOpen())
        editorWindow.close(*plugin);
    stop = true;
    audio.join();
    delete plugin;
    for (int i = 0; i < backendCount; ++i)
        delete backends[i];
    return 0;
}

#include "BridgeProcess.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "BridgeEditorPlacement.h"
#include "BridgePlugin.h"
#include "WindowsBell.h"

using namespace bridge;

namespace {

// One job for every bridge of this program: closed with the program (it holds the
// only handle), it ends them all.
HANDLE bridgeJob() {
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (made && !SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
            CloseHandle(made);
            made = nullptr;
        }
        return made;
    }();
    return job;
}

class ProcessLink final : public BridgeLink {
public:
    ~ProcessLink() override {
        delete placement_;
        end();
        if (view_)
            UnmapViewOfFile(view_);
        if (mapping_)
            CloseHandle(mapping_);
        if (process_)
            CloseHandle(process_);
    }

    bool start(const char* bridgePath, const char* path, const char* format, const char* classId, char* failure,
               size_t failureSize) {
        static LONG made = 0;
        wchar_t base[96];
        _snwprintf(base, 96, L"Local\\TalvenorBridge-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&made));
        base[95] = L'\0';
        wchar_t name[128];
        bridgeObjectName(name, 128, base, L"region");
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, DWORD(sizeof(Region)), name);
        view_ = mapping_ ? static_cast<Region*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Region)))
                         : nullptr;
        if (!view_)
            return refuse(failure, failureSize, "its process's memory could not be made");
        initialiseRegion(view_);
        HANDLE events[4] = {};
        for (int i = 0; i < 4; ++i) {
            bridgeObjectName(name, 128, base, kBellNames[i]);
            events[i] = CreateEventW(nullptr, FALSE, FALSE, name);
            if (!events[i])
                return refuse(failure, failureSize, "its process's signals could not be made");
        }

        char command[2400];
        const int n = std::snprintf(command, sizeof command, "\"%s\" --program %lu --name %ls --format \"%s\" --class \"%s\" \"%s\"",
                                    bridgePath, GetCurrentProcessId(), base, format, classId ? classId : "", path);
        if (n <= 0 || size_t(n) >= sizeof command) {
            for (HANDLE e : events)
                CloseHandle(e);
            return refuse(failure, failureSize, "its path is too long for its process");
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        // Suspended until it is in the job: it never runs outside it.
        if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr,
                            nullptr, &startup, &info)) {
            for (HANDLE e : events)
                CloseHandle(e);
            std::snprintf(failure, failureSize, "its process could not be started (%s, error %lu)", bridgePath,
                          GetLastError());
            return false;
        }
        process_ = info.hProcess;
        placement_ = new (std::nothrow) BridgeEditorPlacement(info.dwProcessId);
        if (HANDLE job = bridgeJob())
            AssignProcessToJobObject(job, process_);
        ResumeThread(info.hThread);
        CloseHandle(info.hThread);
        for (int i = 0; i < 4; ++i)
            bells_[i].attach(events[i], process_);
        bells_[1].answerSentMessagesWhileWaiting();  // the UI thread's
        return true;
    }

    Region* region() override { return view_; }
    Doorbell& uiToBridge() override { return bells_[0]; }
    Doorbell& uiFromBridge() override { return bells_[1]; }
    Doorbell& audioToBridge() override { return bells_[2]; }
    Doorbell& audioFromBridge() override { return bells_[3]; }
    EditorPlacement* editorPlacement() override { return placement_; }
    void end() override {
        if (process_ && !ended_) {
            ended_ = true;
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 2000);  // bounded: the kernel ends it, not the plug-in
        }
    }

private:
    static bool refuse(char* failure, size_t size, const char* why) {
        std::snprintf(failure, size, "%s", why);
        return false;
    }
    HANDLE mapping_ = nullptr;
    Region* view_ = nullptr;
    HANDLE process_ = nullptr;
    bool ended_ = false;
    WindowsBell bells_[4];
    BridgeEditorPlacement* placement_ = nullptr;
};

}  // namespace

bool bridgeProgramPath(char* path, size_t size, bool otherWidth) {
    char own[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
    if (n == 0 || n >= sizeof own)
        return false;
    char* slash = std::strrchr(own, '\\');
    if (!slash)
        return false;
    slash[1] = '\0';
    const char* name = !otherWidth ? "talvenor-bridge.exe" : sizeof(void*) == 8 ? "talvenor-bridge32.exe"
                                                                                : "talvenor-bridge64.exe";
    return std::snprintf(path, size, "%s%s", own, name) < int(size);
}

PluginInstance* loadInBridge(const char* bridgePath, const char* path, const char* format, const char* classId,
                             PluginHostEvents* events, char* failure, size_t failureSize) {
    auto* link = new (std::nothrow) ProcessLink;
    if (!link) {
        std::snprintf(failure, failureSize, "%s", "out of memory");
        return nullptr;
    }
    if (!link->start(bridgePath, path, format, classId, failure, failureSize)) {
        delete link;
        return nullptr;
    }
    return BridgePlugin::create(link, events, failure, failureSize);
}

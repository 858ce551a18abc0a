// asio_foreign_host: an ASIO host that knows nothing of Talvenor Live but what every
// host knows. It finds a driver by its name under HKEY_LOCAL_MACHINE "software\asio",
// creates it through COM from the class id written there, opens it, asks it
// everything, streams through it and lets it go, printing what it saw.
//   asio_foreign_host [--driver NAME] [--stream MS] [--hold MS] [--panel 1]
// --hold keeps the opened driver for that long before streaming ("opened" is printed
// first), so that another program can try to open it meanwhile; --panel opens the
// driver's control panel and tells whether its window appeared.
// Exit codes: 0 done, 2 not listed or not created, 3 init refused (its text printed).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <objbase.h>

#include "AsioProbe.h"

namespace {

bool findClassId(const char* driver, CLSID& clsid) {
    const std::string path = std::string("software\\asio\\") + driver;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char text[128] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const bool read = RegQueryValueExA(key, "CLSID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    WCHAR wide[128];
    return read && MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 128) > 0 &&
           SUCCEEDED(CLSIDFromString(wide, &clsid));
}

}  // namespace

int main(int argc, char** argv) {
    const char* driverName = "ZerevaZ-2-UDID wrapper";
    int streamMs = 0;
    int holdMs = 0;
    bool panel = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--driver") == 0)
            driverName = argv[i + 1];
        else if (std::strcmp(argv[i], "--stream") == 0)
            streamMs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--hold") == 0)
            holdMs = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--panel") == 0)
            panel = std::atoi(argv[i + 1]) != 0;
    }
    CoInitialize(nullptr);
    CLSID clsid;
    if (!findClassId(driverName, clsid)) {
        std::printf("listed 0\n");
        return 2;
    }
    std::printf("listed 1\n");
    // The ASIO convention: the class id serves as the interface id as well.
    IASIO* driver = nullptr;
    const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, clsid,
                                             reinterpret_cast<void**>(&driver));
    if (FAILED(created) || !driver) {
        std::printf("created 0x%08lx\n", static_cast<unsigned long>(created));
        return 2;
    }
    const ASIOBool opened = driver->init(GetDesktopWindow());
    std::printf("init %ld\n", long(opened));
    int code = 0;
    if (!opened) {
        char text[256] = {};
        driver->getErrorMessage(text);
        std::printf("error %s\n", text);
        code = 3;
    } else {
        std::printf("opened\n");
        std::fflush(stdout);
        if (holdMs > 0)
            Sleep(DWORD(holdMs));
        std::fputs(askDriver(driver).c_str(), stdout);
        if (streamMs > 0)
            std::fputs(streamThrough(driver, streamMs).text().c_str(), stdout);
        if (panel) {
            std::printf("controlPanel %ld\n", long(driver->controlPanel()));
            std::printf("panelWindow %d\n", FindWindowA(nullptr, "ZerevaZ-2-UDID Settings") != nullptr);
        }
    }
    std::printf("release %lu\n", static_cast<unsigned long>(driver->Release()));
    std::fflush(stdout);
    CoUninitialize();
    return code;
}

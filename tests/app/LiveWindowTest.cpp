// talvenor-live.exe as a user starts it: settings left by an earlier run (some out
// of range, of the wrong type or size, naming a driver no longer installed) come
// back limited and are written back at exit; a performance path in quotes with a
// blank reaches the program whole; a program without its click resource says so
// once and runs. Screenshots of the states go to the build folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WinDriver.h"

using namespace windriver;

namespace {

const std::string kBinDir = TALVENOR_BIN_DIR;
const std::string kProgram = kBinDir + "talvenor-live.exe";
const std::string kScreenshots = TALVENOR_SCREENSHOT_DIR;
const char kSettingsKey[] = "SOFTWARE\\Talvenor Software\\Talvenor Live\\2";
const char kFrameClass[] = "TALVENORLIVE2_MAIN";
const char kBuiltInDriver[] = "ZerevaZ-2-UDID wrapper";
const DWORD kStartTimeout = 20000;

float floatValue(const RegistryKey& key, const char* name) {
    float value = NAN;
    EXPECT_TRUE(key.readFloat(name, &value)) << name << " is missing or not a REG_DWORD";
    return value;
}

uint32_t dwordValue(const RegistryKey& key, const char* name) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(key.readDword(name, &value)) << name << " is missing or not a REG_DWORD";
    return value;
}

std::string textValue(const RegistryKey& key, const char* name) {
    std::string value = "(missing)";
    EXPECT_TRUE(key.readText(name, &value)) << name << " is missing or not a REG_SZ";
    return value;
}

void expectPair(const RegistryKey& key, const char* name, int32_t x, int32_t y) {
    int32_t readX = -1, readY = -1;
    ASSERT_TRUE(key.readPair(name, &readX, &readY)) << name;
    EXPECT_EQ(readX, x) << name;
    EXPECT_EQ(readY, y) << name;
}

bool renameResourceType(const std::string& path, const std::u16string& from, const std::u16string& to) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::vector<char> pattern(2 + 2 * from.size());
    pattern[0] = char(from.size());
    std::memcpy(pattern.data() + 2, from.data(), 2 * from.size());
    auto found = std::search(image.begin(), image.end(), pattern.begin(), pattern.end());
    if (found == image.end())
        return false;
    std::memcpy(&*found + 2, to.data(), 2 * to.size());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.data(), std::streamsize(image.size()));
    return bool(out);
}

// Wine draws the frames' captions itself when no window manager runs on the bench.
void decorateWindowsWithoutAManager() {
    RegistryKey x11("Software\\Wine\\X11 Driver", true);
    x11.setText("Decorated", "N");
}

}  // namespace

TEST(LiveWindow, SettingsComeBackLimitedAndAQuotedPathArrivesWhole) {
    decorateWindowsWithoutAManager();
    forgetProgramSettings();
    {
        RegistryKey key(kSettingsKey, true);
        ASSERT_TRUE(key.valid());
        key.setText("asioDevice", "Studio Interface Sold Last Year");
        key.setText("szAppDir", kBinDir);
        key.setText("szVstDir", "C:\\Plug-ins\\");
        key.setText("szAccompFile", std::string(300, 'a'));  // longer than the program's 260 bytes
        key.setDword("tempo", 3000);
        key.setFloat("ingain", 1.5f);
        key.setFloat("outgain", -0.5f);
        key.setFloat("gateRelease", 0.5f);
        const float threshold = 0.9f;
        key.setRaw("gateThresh", REG_BINARY, &threshold, sizeof threshold);  // the wrong type
        const uint16_t shortAttack = 0x3F80;
        key.setRaw("gateAttack", REG_DWORD, &shortAttack, sizeof shortAttack);  // the wrong size
        key.setDword("centerAmp", 255);
        key.setDword("diskBufferTime", 5000);
        key.setDword("metronome", 7);
        key.setDword("autoSync", 0x100);  // only the low byte counts
        key.setPair("frameWndPos", -40, 900);
        key.setPair("frameWndSize", 1500, 150);
        key.setPair("inmeterWndPos", 800, 20);
        key.setDword("frameCmdShow", 1);
    }

    const std::string performance = "Z:\\tmp\\My Performances\\first set.tlp";
    ProgramProcess program;
    ASSERT_TRUE(program.start(kProgram, "\"" + performance + "\""));
    // It does not exist: error 34 names the whole path, blank included.
    const MessageBoxSeen notice = waitForMessageBox(program.processId(), "Error #", kStartTimeout);
    ASSERT_NE(notice.window, nullptr) << "no box about the performance on the command line";
    EXPECT_EQ(notice.caption, "Error #34");
    EXPECT_EQ(notice.text.rfind("Failed to load the performance", 0), 0u) << notice.text;
    EXPECT_NE(notice.text.find("\n" + performance + " could not be opened"), std::string::npos) << notice.text;
    takeScreenshot(kScreenshots, "01-command-line-performance");
    ASSERT_TRUE(pressButton(notice.window, IDOK));

    HWND frame = waitForTopWindow(program.processId(), kFrameClass, nullptr, kStartTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(windowText(frame), "Talvenor Live 2.10");
    EXPECT_FALSE(IsZoomed(frame));
    const RECT client = clientRect(frame);
    EXPECT_EQ(client.right, 1000);
    EXPECT_EQ(client.bottom, 200);
    const POINT origin = clientOrigin(frame);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 500);
    // The toolbar strip over the MDI client, the CPU strip below it.
    HWND toolbar = findChild(frame, "TALVENORLIVE2_TOOLB");
    HWND mdiClient = findChild(frame, "MDIClient");
    ASSERT_NE(toolbar, nullptr);
    ASSERT_NE(mdiClient, nullptr);
    EXPECT_EQ(clientOrigin(mdiClient).y - origin.y, 54 + 2) << "the MDI client's client area (inside its edge)";
    EXPECT_EQ(windowRect(mdiClient).bottom - windowRect(mdiClient).top, 200 - 84);
    EXPECT_EQ(windowRect(toolbar).bottom - windowRect(toolbar).top, 54);
    EXPECT_TRUE(dialogsOf(program.processId()).empty()) << "a box that should not be there";

    ASSERT_TRUE(program.close(frame, kStartTimeout));
    EXPECT_EQ(program.exitCode(), 0u);

    RegistryKey key(kSettingsKey, false);
    ASSERT_TRUE(key.valid());
    EXPECT_EQ(textValue(key, "asioDevice"), "<no device>");
    EXPECT_EQ(textValue(key, "szAppDir"), kBinDir);
    EXPECT_EQ(textValue(key, "szVstDir"), "C:\\Plug-ins\\");
    EXPECT_EQ(textValue(key, "szAccompFile"), "");
    EXPECT_EQ(dwordValue(key, "tempo"), 6000u);
    EXPECT_EQ(floatValue(key, "ingain"), 1.0f);
    EXPECT_EQ(floatValue(key, "outgain"), 0.0f);
    EXPECT_EQ(floatValue(key, "gateRelease"), 0.5f);
    EXPECT_EQ(floatValue(key, "gateThresh"), 1.0f / 3.0f);
    EXPECT_EQ(floatValue(key, "gateAttack"), 0.0f);
    EXPECT_EQ(dwordValue(key, "centerAmp"), 0u);
    EXPECT_EQ(dwordValue(key, "diskBufferTime"), 1024u);
    EXPECT_EQ(dwordValue(key, "metronome"), 1u);
    EXPECT_EQ(dwordValue(key, "autoSync"), 0u);
    expectPair(key, "frameWndPos", 0, 500);
    expectPair(key, "frameWndSize", 1000, 200);
    expectPair(key, "inmeterWndPos", 700, 20);
    expectPair(key, "outmeterWndPos", 10, 290);
    expectPair(key, "navWndPos", 10, 100);
    EXPECT_EQ(dwordValue(key, "frameCmdShow"), uint32_t(SW_SHOWNORMAL));

    // The next run: a maximised frame, a tempo above the range and the built-in
    // driver by name, which is opened and saved again.
    key.setDword("tempo", 25000);
    key.setDword("frameCmdShow", 3);
    key.setText("asioDevice", kBuiltInDriver);
    ProgramProcess second;
    ASSERT_TRUE(second.start(kProgram, ""));
    frame = waitForTopWindow(second.processId(), kFrameClass, nullptr, kStartTimeout);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(IsZoomed(frame));
    EXPECT_TRUE(dialogsOf(second.processId()).empty()) << "a box that should not be there";
    takeScreenshot(kScreenshots, "02-maximised-frame");
    ASSERT_TRUE(second.close(frame, kStartTimeout));
    EXPECT_EQ(dwordValue(key, "tempo"), 20000u);
    EXPECT_EQ(dwordValue(key, "frameCmdShow"), uint32_t(SW_SHOWMAXIMIZED));
    EXPECT_EQ(textValue(key, "asioDevice"), kBuiltInDriver);
}

TEST(LiveWindow, WithoutItsClickTheProgramSaysSoOnceAndRuns) {
    forgetProgramSettings();
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder = std::string(temp) + "talvenor no click";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string copy = folder + "\\talvenor-live.exe";
    ASSERT_TRUE(CopyFileA(kProgram.c_str(), copy.c_str(), FALSE));
    // The click is the program's only resource of type "RAW"; renaming the type in
    // the copy's resource directory (a counted UTF-16 name) hides it from the program.
    ASSERT_TRUE(renameResourceType(copy, u"RAW", u"RAX"));
    HMODULE image = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(FindResourceA(image, MAKEINTRESOURCEA(155), "RAW"), nullptr) << "the click is still in the copy";
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(109), MAKEINTRESOURCEA(4)), nullptr) << "the menu went too";
    FreeLibrary(image);

    ProgramProcess program;
    ASSERT_TRUE(program.start(copy, ""));
    const MessageBoxSeen box = waitForMessageBox(program.processId(), "Error #", kStartTimeout);
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.caption, "Error #36");
    EXPECT_EQ(box.text, "Unable to load the metronome's sound. It will not be audible.");
    ASSERT_TRUE(pressButton(box.window, IDOK));
    HWND frame = waitForTopWindow(program.processId(), kFrameClass, nullptr, kStartTimeout);
    ASSERT_NE(frame, nullptr);
    Sleep(1000);  // fourteen ticks of the frame's timer
    EXPECT_TRUE(dialogsOf(program.processId()).empty()) << "a second box came";
    ASSERT_TRUE(program.close(frame, kStartTimeout));
    EXPECT_EQ(program.exitCode(), 0u);

    // A first run: the keys were made and the program's folder recorded.
    RegistryKey key(kSettingsKey, false);
    ASSERT_TRUE(key.valid());
    EXPECT_EQ(textValue(key, "szAppDir"), folder + "\\");
    EXPECT_EQ(textValue(key, "asioDevice"), "<no device>");
    RegistryKey driverKey((std::string(kSettingsKey) + "\\ZerevaZ-2-UDID").c_str(), false);
    EXPECT_TRUE(driverKey.valid());
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

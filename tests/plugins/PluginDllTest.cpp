// The three plug-in libraries as any VST 2 host meets them: loaded with
// LoadLibrary from the plug-in folder, entered through `main`, driven only through
// the record. Also checks that each depends on nothing but Windows' own DLLs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PluginTestSupport.h"
#include "VstInterface.h"
#include "WinInclude.h"

namespace {

using plugintest::dispatch;

struct ParameterText {
    const char* name;
    const char* label;
    const char* display;
};

struct ExpectedPlugin {
    const char* file;
    VstInt32 inputs;
    VstInt32 outputs;
    VstInt32 numParams;
    const char* programName;
    std::vector<ParameterText> parameters;  // every index the plug-in answers
};

const ExpectedPlugin kPlugins[] = {
    {"Modulane.dll", 2, 2, 4, "default",
     {{"Tremelo", "%", "0.00"}, {"Trem. rate", "Hz", "1.40"}, {"Vibrato", "dB", "0.00"}, {"Vib. rate", "Hz", "1.40"}}},
    {"Filtrace.dll", 2, 2, 6, "",
     {{"Center freq.", "Hz", "560.00"},
      {"Resonance", "%", "40.00"},
      {"Rate", "Hz", "10.80"},
      {"Freq. range", "oct.", "0.85"},
      {"Wet mix", "%", "50.00"},
      {"Gain", "dB", "-1.93820"}}},
    {"Overdrive.dll", 1, 1, 2, "default",
     {{"Drive", "%", "50.00"}, {"Smooth", "%", "25.00"}, {"Brightness", "%", "100.00"}, {"Post gain", "dB", "-20.0000"}}},
};

int hostCalls = 0;

VstIntPtr VSTCALLBACK recordingHost(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) {
    ++hostCalls;
    return 0;
}

std::string pluginPath(const char* file) {
    char exe[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, length);
    dir.erase(dir.find_last_of('\\') + 1);
    return dir + PLUGIN_DIR_FROM_TEST + "\\" + file;
}

std::string ask(AEffect* e, VstInt32 opcode, VstInt32 index) {
    char text[100];
    std::memset(text, 'x', sizeof text);
    text[sizeof text - 1] = '\0';
    dispatch(e, opcode, index, 0, text);
    return text;
}

// The machine a PE file is built for and the names of the DLLs it imports, read
// from its headers and import directory (PE32 and PE32+ alike).
bool readImports(const std::string& path, WORD& machine, std::vector<std::string>& names) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    auto fits = [&](size_t offset, size_t size) { return offset <= bytes.size() && size <= bytes.size() - offset; };
    if (!fits(0, sizeof(IMAGE_DOS_HEADER)))
        return false;
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, bytes.data(), sizeof dos);
    const size_t ntAt = size_t(dos.e_lfanew);
    const size_t optionalAt = ntAt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || !fits(ntAt, offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + sizeof(WORD)))
        return false;
    DWORD signature;
    IMAGE_FILE_HEADER header;
    WORD magic;
    std::memcpy(&signature, bytes.data() + ntAt, sizeof signature);
    std::memcpy(&header, bytes.data() + ntAt + offsetof(IMAGE_NT_HEADERS32, FileHeader), sizeof header);
    std::memcpy(&magic, bytes.data() + optionalAt, sizeof magic);
    if (signature != IMAGE_NT_SIGNATURE)
        return false;
    machine = header.Machine;
    IMAGE_DATA_DIRECTORY directory;
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && fits(optionalAt, sizeof(IMAGE_OPTIONAL_HEADER32))) {
        IMAGE_OPTIONAL_HEADER32 optional;
        std::memcpy(&optional, bytes.data() + optionalAt, sizeof optional);
        directory = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC && fits(optionalAt, sizeof(IMAGE_OPTIONAL_HEADER64))) {
        IMAGE_OPTIONAL_HEADER64 optional;
        std::memcpy(&optional, bytes.data() + optionalAt, sizeof optional);
        directory = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else {
        return false;
    }
    const size_t sectionsAt = optionalAt + header.SizeOfOptionalHeader;
    std::vector<IMAGE_SECTION_HEADER> sections(header.NumberOfSections);
    if (!fits(sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER)))
        return false;
    std::memcpy(sections.data(), bytes.data() + sectionsAt, sections.size() * sizeof(IMAGE_SECTION_HEADER));
    auto fileOffset = [&](DWORD rva, size_t& offset) {
        for (const IMAGE_SECTION_HEADER& s : sections) {
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData)) {
                offset = size_t(rva - s.VirtualAddress) + s.PointerToRawData;
                return true;
            }
        }
        return false;
    };
    size_t at = 0;
    if (directory.VirtualAddress == 0)
        return true;
    if (!fileOffset(directory.VirtualAddress, at))
        return false;
    for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        if (!fits(at, sizeof(IMAGE_IMPORT_DESCRIPTOR)))
            return false;
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, bytes.data() + at, sizeof descriptor);
        if (descriptor.Name == 0)
            return true;
        size_t nameAt = 0;
        if (!fileOffset(descriptor.Name, nameAt) || !fits(nameAt, 1))
            return false;
        const char* begin = bytes.data() + nameAt;
        const size_t room = bytes.size() - nameAt;
        names.emplace_back(begin, strnlen(begin, room));
    }
}

VstEntryProc entryPoint(HMODULE library, const char* name) {
    return reinterpret_cast<VstEntryProc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::string lower(std::string text) {
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class PluginDll : public ::testing::TestWithParam<ExpectedPlugin> {};

TEST_P(PluginDll, ImportsOnlyWindowsOwnLibraries) {
    const ExpectedPlugin& expected = GetParam();
    std::vector<std::string> imports;
    WORD machine = 0;
    ASSERT_TRUE(readImports(pluginPath(expected.file), machine, imports)) << pluginPath(expected.file);
    // Each edition ships plug-ins of its own width.
#ifdef _WIN64
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, machine);
#else
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, machine);
#endif
    std::string list;
    for (const std::string& name : imports)
        list += " " + name;
    std::printf("%s imports:%s\n", expected.file, list.c_str());

    char system[MAX_PATH];
    const UINT length = GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    bool kernel = false;
    for (const std::string& name : imports) {
        const std::string low = lower(name);
        EXPECT_EQ(std::string::npos, low.find("libstdc++")) << name;
        EXPECT_EQ(std::string::npos, low.find("libgcc")) << name;
        EXPECT_EQ(std::string::npos, low.find("libwinpthread")) << name;
        const std::string installed = std::string(system, length) + "\\" + name;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(installed.c_str())) << name << " is not a system DLL";
        kernel = kernel || low == "kernel32.dll";
    }
    EXPECT_TRUE(kernel);
}

TEST_P(PluginDll, LoadsAndBehavesAsAVst2Effect) {
    const ExpectedPlugin& expected = GetParam();
    hostCalls = 0;
    HMODULE library = LoadLibraryA(pluginPath(expected.file).c_str());
    ASSERT_NE(nullptr, library) << pluginPath(expected.file) << " error " << GetLastError();

    const VstEntryProc entry = entryPoint(library, "main");
    const VstEntryProc modernEntry = entryPoint(library, "VSTPluginMain");
    ASSERT_NE(nullptr, entry);
    ASSERT_NE(nullptr, modernEntry);
    EXPECT_EQ(entry, modernEntry);

    AEffect* e = entry(recordingHost);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(e, modernEntry(recordingHost));  // one object per loaded library
    EXPECT_EQ(0x56737450, e->magic);
    plugintest::expectEffectRecord(e, expected.numParams, expected.inputs, expected.outputs);
    EXPECT_EQ(1, e->version);
    EXPECT_EQ(1.0f, e->ioRatio);
    EXPECT_NE(nullptr, e->object);
    ASSERT_NE(nullptr, e->processReplacing);

    EXPECT_EQ(0x4E764566, dispatch(e, effIdentify));
    EXPECT_EQ(0, dispatch(e, 38));
    EXPECT_EQ(0, dispatch(e, 51));
    EXPECT_EQ(0, dispatch(e, effGetVu));

    // Names, labels and displays at the defaults, for every index the effect answers.
    for (size_t i = 0; i < expected.parameters.size(); ++i) {
        const VstInt32 index = VstInt32(i);
        EXPECT_EQ(expected.parameters[i].name, ask(e, effGetParamName, index));
        EXPECT_EQ(expected.parameters[i].label, ask(e, effGetParamLabel, index));
        EXPECT_EQ(expected.parameters[i].display, ask(e, effGetParamDisplay, index)) << expected.parameters[i].name;
    }
    EXPECT_EQ("", ask(e, effGetParamName, VstInt32(expected.parameters.size())));

    // Programs: all sixteen named alike, selection bounded, renaming refused.
    for (VstInt32 p = 0; p < 16; ++p) {
        dispatch(e, effSetProgram, 0, p);
        EXPECT_EQ(p, dispatch(e, effGetProgram));
        EXPECT_EQ(expected.programName, ask(e, effGetProgramName, 0));
    }
    dispatch(e, effSetProgram, 0, 16);
    dispatch(e, effSetProgram, 0, -1);
    EXPECT_EQ(15, dispatch(e, effGetProgram));
    char rename[32] = "Renamed";
    dispatch(e, effSetProgramName, 0, 0, rename);
    EXPECT_EQ('\0', rename[0]);
    EXPECT_EQ(expected.programName, ask(e, effGetProgramName, 0));
    dispatch(e, effSetProgram, 0, 0);

    // Parameters through the record (a float crosses the boundary both ways).
    e->setParameter(e, 1, 0.375f);
    EXPECT_EQ(0.375f, e->getParameter(e, 1));
    e->setParameter(e, 1, 1.5f);
    EXPECT_EQ(1.0f, e->getParameter(e, 1));  // knob values stay within 0 to 1
    EXPECT_EQ(0.0f, e->getParameter(e, 99));
    // Back to a fresh program so the block below runs the defaults.
    dispatch(e, effSetProgram, 0, 1);

    // A host's usual start, then a block.
    EXPECT_EQ(0, dispatch(e, effOpen));
    dispatch(e, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(e, effSetBlockSize, 0, 256);
    dispatch(e, effMainsChanged, 0, 1);
    const int frames = 256;
    std::vector<float> in[2], out[2];
    float* ins[2];
    float* outs[2];
    for (int ch = 0; ch < 2; ++ch) {
        in[ch].resize(frames);
        out[ch].assign(frames, 9.0f);
        for (int i = 0; i < frames; ++i)
            in[ch][i] = float(0.5 * std::sin(2.0 * plugintest::kPi * 440.0 * i / 48000.0 + ch));
        ins[ch] = in[ch].data();
        outs[ch] = out[ch].data();
    }
    e->processReplacing(e, ins, outs, frames);
    float energy = 0.0f;
    for (int ch = 0; ch < expected.outputs; ++ch) {
        for (int i = 0; i < frames; ++i) {
            ASSERT_TRUE(std::isfinite(out[ch][i]));
            ASSERT_NE(9.0f, out[ch][i]);
            energy += out[ch][i] * out[ch][i];
        }
    }
    EXPECT_GT(energy, 0.0f);
    if (expected.file == std::string("Modulane.dll")) {
        // Default program: both depths 0, the signal passes unchanged.
        EXPECT_EQ(in[0], out[0]);
        EXPECT_EQ(in[1], out[1]);
    }
    if (expected.outputs == 1) {
        EXPECT_EQ(std::vector<float>(frames, 9.0f), out[1]);
        for (float y : out[0])
            EXPECT_LE(std::fabs(y), 0.5f);
    }
    dispatch(e, effMainsChanged, 0, 0);

    // The effects never call the host.
    EXPECT_EQ(0, hostCalls);

    // Close ends the object; the entry point then builds a fresh one.
    dispatch(e, effSetProgram, 0, 5);
    EXPECT_EQ(1, dispatch(e, effClose));
    AEffect* fresh = entry(recordingHost);
    ASSERT_NE(nullptr, fresh);
    EXPECT_EQ(0x56737450, fresh->magic);
    EXPECT_EQ(0, dispatch(fresh, effGetProgram));
    EXPECT_EQ(0x4E764566, dispatch(fresh, effIdentify));
    EXPECT_EQ(1, dispatch(fresh, effClose));

    EXPECT_TRUE(FreeLibrary(library));
}

INSTANTIATE_TEST_SUITE_P(AllThree, PluginDll, ::testing::ValuesIn(kPlugins),
                         [](const ::testing::TestParamInfo<ExpectedPlugin>& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace

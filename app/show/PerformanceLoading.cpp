#include "PerformanceLoading.h"

#include <cstdio>

#include "ControlTargets.h"
#include "EffectHost.h"
#include "MidiBindings.h"
#include "WinInclude.h"

bool regularFileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool readPerformanceImage(const std::string& path, std::vector<uint8_t>& bytes, PerformanceImage& image,
                          std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + " could not be opened";
        return false;
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    if (size < 0 || uint64_t(size) > kMaxPerformanceFileBytes) {
        std::fclose(file);
        error = size < 0 ? path + " could not be read" : describePerformanceParse(PerformanceParse::TooLarge);
        return false;
    }
    bytes.resize(size_t(size));
    ok = std::fseek(file, 0, SEEK_SET) == 0 &&
         (size == 0 || std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size());
    std::fclose(file);
    if (!ok) {
        error = path + " could not be read";
        return false;
    }
    const PerformanceParse parsed = parsePerformance(bytes.data(), bytes.size(), image);
    if (parsed != PerformanceParse::Ok) {
        error = describePerformanceParse(parsed);
        return false;
    }
    return true;
}

bool loadPerformanceForSwitch(EffectHost& host, const std::string& path, bool parameterBindingsOnly,
                              LoadedPerformance& out, std::string& error) {
    std::vector<uint8_t> bytes;
    PerformanceImage image;
    if (!readPerformanceImage(path, bytes, image, error))
        return false;
    // A format this build cannot load refuses the whole file, as File, Open does.
    for (int position = 0; position < kPerformancePositions; ++position) {
        const PerformancePosition& p = image.positions[position];
        if (p.occupied && !host.backendLabelled(p.format)) {
            error = "position " + std::to_string(position + 1) + " holds a " + p.format +
                    " plug-in, which this edition cannot load";
            return false;
        }
    }
    out = LoadedPerformance();
    for (int position = 0; position < kPerformancePositions; ++position) {
        const PerformancePosition& p = image.positions[position];
        if (!p.occupied)
            continue;
        EffectSlot* slot = host.loadPluginClass(p.path, p.format, p.classId,
                                                p.ownProcess ? ProcessChoice::OwnProcess : ProcessChoice::Default);
        if (!slot) {
            out.missing += std::string(p.path) + "\n";
            continue;
        }
        host.restoreState(slot, p.state, p.stateSize);
        host.setSlotActive(slot, p.bypass == 0);
        out.chain.slots[position] = slot;
        out.chain.bypass[position] = p.bypass;
    }
    if (image.accompaniment[0]) {
        if (regularFileExists(image.accompaniment))
            out.accompaniment = image.accompaniment;
        else
            out.missing += std::string(image.accompaniment) + "\n";
    }
    // A bindings text that does not read leaves them out, as a part that could not
    // be loaded.
    if (image.bindingsSize > 0) {
        MidiBindingTable table;
        BindingsTextError problem;
        if (readBindingsText(image.bindings, image.bindingsSize, table, problem)) {
            for (size_t i = 0; i < table.size(); ++i)
                if (!parameterBindingsOnly || targetGroup(table.at(i).target) == TargetGroup::PluginParameter)
                    out.bindings.push_back(table.at(i));
        } else {
            char reason[300];
            describeBindingsTextError(problem, reason, sizeof reason);
            out.missing += std::string("its MIDI bindings (") + reason + ")\n";
        }
    }
    return true;
}

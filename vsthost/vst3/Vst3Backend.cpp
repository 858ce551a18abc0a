#include "Vst3Backend.h"
#include "PluginFolders.h"

#include <cstdio>
#include <cstring>

#include "StringIds.h"
#include "Vst3BundlePath.h"
#include "Vst3Module.h"
#include "Vst3Plugin.h"
#include "Vst3Reasons.h"
#include "Vst3Text.h"
#include "WinInclude.h"

namespace {

const char kAudioModuleClass[] = "Audio Module Class";

bool isFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The binary behind path: the bundle's one for this width, or path itself.
bool binaryOf(const char* path, char* binary, size_t size, char* failure, size_t failureSize) {
    if (!isFolder(path)) {
        if (std::strlen(path) >= size) {
            vst3Reason(failure, failureSize, kStrVst3LoadFailed, "the path is too long");
            return false;
        }
        std::strcpy(binary, path);
        return true;
    }
    if (vst3path::bundleBinary(path, vst3path::kOwnArchitecture, binary, size) && isFile(binary))
        return true;
    char other[1024];
    if (vst3path::bundleBinary(path, vst3path::kOtherArchitecture, other, sizeof other) && isFile(other))
        vst3Reason(failure, failureSize, kStrVst3OtherWidthOnly, vst3path::kOtherArchitecture,
                   vst3path::kOwnArchitecture);
    else
        vst3Reason(failure, failureSize, kStrVst3NoBinary, vst3path::kOwnArchitecture);
    return false;
}

// What the factory says of class index; false when it does not answer.
struct ClassFacts {
    uint8_t id[16];
    char category[33];
    char name[64];
    char vendor[64];
    char subCategories[129];
    bool hasSubCategories;
};

bool classFacts(Vst3Module* module, int32_t index, ClassFacts* facts) {
    std::memset(facts, 0, sizeof *facts);
    v3_class_info_2 info2;
    std::memset(&info2, 0, sizeof info2);
    if (module->factory2() && vst3abi::call(module->factory2(), &v3_plugin_factory_2::get_class_info_2,
                                            v3_result(V3_FALSE), index, &info2) == V3_OK) {
        std::memcpy(facts->id, info2.class_id, 16);
        vst3text::fromField(info2.category, sizeof info2.category, facts->category, sizeof facts->category);
        vst3text::fromField(info2.name, sizeof info2.name, facts->name, sizeof facts->name);
        vst3text::fromField(info2.vendor, sizeof info2.vendor, facts->vendor, sizeof facts->vendor);
        vst3text::fromField(info2.sub_categories, sizeof info2.sub_categories, facts->subCategories,
                            sizeof facts->subCategories);
        facts->hasSubCategories = true;
        return true;
    }
    v3_class_info info;
    std::memset(&info, 0, sizeof info);
    if (vst3abi::call(module->factory(), &v3_plugin_factory::get_class_info, v3_result(V3_FALSE), index, &info) !=
        V3_OK)
        return false;
    std::memcpy(facts->id, info.class_id, 16);
    vst3text::fromField(info.category, sizeof info.category, facts->category, sizeof facts->category);
    vst3text::fromField(info.name, sizeof info.name, facts->name, sizeof facts->name);
    return true;
}

bool isInstrument(const ClassFacts& facts) {
    return vst3text::hasCategory(facts.subCategories, sizeof facts.subCategories, "Instrument");
}

}  // namespace

bool Vst3Backend::recognises(const char* path) const { return vst3path::recognises(path); }

// Common Files is the one of this edition's width (a 32-bit process sees the x86 one);
// then the user's own, for plug-ins installed without administrator rights.
bool Vst3Backend::scanFolder(int32_t index, char* path, size_t size) const {
    if (index == 0)
        return folderUnderVariable("CommonProgramFiles", "VST3", path, size);
    if (index == 1)
        return folderUnderVariable("LOCALAPPDATA", "Programs\\Common\\VST3", path, size);
    return false;
}

bool Vst3Backend::isBundle(const char* directoryPath) const { return vst3path::recognises(directoryPath); }

PluginInstance* Vst3Backend::load(const char* path, const char* classId, PluginHostEvents* events, char* failure,
                                  size_t failureSize) {
    if (failure && failureSize)
        failure[0] = '\0';
    char binary[1024];
    if (!path || !binaryOf(path, binary, sizeof binary, failure, failureSize))
        return nullptr;
    Vst3Module* module = Vst3Module::acquire(binary, failure, failureSize);
    if (!module)
        return nullptr;

    uint8_t wanted[16];
    const bool byId = classId && classId[0];
    if (byId && !vst3text::classIdFromText(classId, wanted)) {
        vst3Reason(failure, failureSize, kStrVst3ClassNotFound, classId);
        module->release();
        return nullptr;
    }
    constexpr int32_t kMaxClasses = 1024;
    const int32_t classes = vst3abi::call(module->factory(), &v3_plugin_factory::num_classes, int32_t(-1));
    if (classes < 0 || classes > kMaxClasses) {
        vst3Reason(failure, failureSize, kStrVst3AbsurdAnswer, "the number of classes");
        module->release();
        return nullptr;
    }
    ClassFacts chosen;
    bool found = false;
    char instrument[64] = "";
    for (int32_t i = 0; i < classes && !found; ++i) {
        ClassFacts facts;
        if (!classFacts(module, i, &facts) || std::strcmp(facts.category, kAudioModuleClass) != 0)
            continue;
        if (byId ? std::memcmp(facts.id, wanted, 16) != 0 : false)
            continue;
        if (isInstrument(facts)) {
            std::snprintf(instrument, sizeof instrument, "%s", facts.name[0] ? facts.name : "The class");
            if (byId)
                break;
            continue;
        }
        // Without sub-categories (an older factory) an audio module is taken as an effect.
        if (!byId && facts.hasSubCategories && !vst3text::hasCategory(facts.subCategories,
                                                                       sizeof facts.subCategories, "Fx"))
            continue;
        chosen = facts;
        found = true;
    }
    if (!found) {
        if (instrument[0])
            vst3Reason(failure, failureSize, kStrVst3IsInstrument, instrument);
        else if (byId)
            vst3Reason(failure, failureSize, kStrVst3ClassNotFound, classId);
        else
            vst3Reason(failure, failureSize, kStrVst3NoEffectClass);
        module->release();
        return nullptr;
    }

    PluginIdentity identity;
    std::memset(&identity, 0, sizeof identity);
    std::snprintf(identity.name, sizeof identity.name, "%s", chosen.name);
    if (chosen.vendor[0]) {
        std::snprintf(identity.vendor, sizeof identity.vendor, "%s", chosen.vendor);
    } else {
        v3_factory_info info;
        std::memset(&info, 0, sizeof info);
        if (vst3abi::call(module->factory(), &v3_plugin_factory::get_factory_info, v3_result(V3_FALSE), &info) ==
            V3_OK)
            vst3text::fromField(info.vendor, sizeof info.vendor, identity.vendor, sizeof identity.vendor);
    }
    std::snprintf(identity.format, sizeof identity.format, "VST3");
    char idText[33];
    vst3text::classIdText(chosen.id, idText);
    std::snprintf(identity.classId, sizeof identity.classId, "%s", idText);
    return Vst3Plugin::create(module, chosen.id, identity, events, failure, failureSize);
}

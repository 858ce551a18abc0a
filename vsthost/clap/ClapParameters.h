#pragma once
// The plug-in's parameters as the host shows them: the list read once (UI thread,
// while inactive), each range mapped onto the seam's 0..1. Ids are looked up from
// any thread; the list is only rebuilt while the plug-in is inactive.
//
// CLAP has no programs; a plug-in that has a program list offers it as a stepped
// parameter named "Program" ranging over 0..N-1. That one is the host's program
// list, set apart from the parameters shown.
#include <cstddef>
#include <cstdint>

#include "ClapAbi.h"

struct ClapParameter {
    clap_id id;
    void* cookie;
    uint32_t flags;
    double min, max, defaultValue;  // a range the plug-in answered absurdly is fixed at min
    char name[128];
};

class ClapParameterTable {
public:
    static constexpr uint32_t kMaxParameters = 16384;

    ClapParameterTable() = default;
    ~ClapParameterTable();
    ClapParameterTable(const ClapParameterTable&) = delete;
    ClapParameterTable& operator=(const ClapParameterTable&) = delete;

    // Reads the list. False with the reason in failure (and the table as before) when
    // the count is absurd, an entry does not read or an id comes twice.
    bool read(const clap_plugin_t* plugin, const clap_plugin_params_t* params, char* failure, size_t failureSize);
    // Rereads only the names (the plug-in said they changed; ids and ranges stay).
    void rereadNames(const clap_plugin_t* plugin, const clap_plugin_params_t* params);

    int32_t count() const { return int32_t(count_); }
    const ClapParameter* at(int32_t index) const;
    int32_t indexOf(clap_id id) const;  // -1 when unknown (the program list's id too)

    // The program list's parameter, or null; programCount is 0 without one.
    const ClapParameter* programList() const { return hasPrograms_ ? &programList_ : nullptr; }
    int32_t programCount() const { return hasPrograms_ ? int32_t(programList_.max) + 1 : 0; }
    static constexpr int32_t kMaxPrograms = 1024;

    static double toPlain(const ClapParameter& p, float normalised);
    static float toNormalised(const ClapParameter& p, double plain);

private:
    void swapIn(ClapParameter* entries, uint32_t* byId, uint32_t count);
    ClapParameter* entries_ = nullptr;
    uint32_t* byId_ = nullptr;  // entry indices sorted by id
    uint32_t count_ = 0;
    ClapParameter programList_ = {};
    bool hasPrograms_ = false;
};

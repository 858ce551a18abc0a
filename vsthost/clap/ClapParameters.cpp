#include "ClapParameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "ClapText.h"

ClapParameterTable::~ClapParameterTable() { swapIn(nullptr, nullptr, 0); }

void ClapParameterTable::swapIn(ClapParameter* entries, uint32_t* byId, uint32_t count) {
    delete[] entries_;
    delete[] byId_;
    entries_ = entries;
    byId_ = byId;
    count_ = count;
    hasPrograms_ = false;
}

namespace {

void normaliseRange(ClapParameter& p) {
    const bool sane = std::isfinite(p.min) && std::isfinite(p.max) && p.max >= p.min;
    if (!sane) {
        p.min = std::isfinite(p.min) ? p.min : 0.0;
        p.max = p.min;
    }
    if (!std::isfinite(p.defaultValue))
        p.defaultValue = p.min;
    p.defaultValue = std::min(std::max(p.defaultValue, p.min), p.max);
}

bool isProgramList(const ClapParameter& p) {
    const char* expected = "program";
    for (const char* c = p.name; *expected; ++c, ++expected)
        if (*c == '\0' || (*c | 0x20) != *expected)
            return false;
    // The whole name, and a range of whole program numbers from the first.
    return p.name[7] == '\0' && (p.flags & CLAP_PARAM_IS_STEPPED) && !(p.flags & CLAP_PARAM_IS_READONLY) &&
           p.min == 0.0 && p.max >= 1.0 && p.max < double(ClapParameterTable::kMaxPrograms) &&
           p.max == std::floor(p.max);
}

}  // namespace

bool ClapParameterTable::read(const clap_plugin_t* plugin, const clap_plugin_params_t* params, char* failure,
                              size_t failureSize) {
    if (!params || !params->count || !params->get_info) {
        swapIn(nullptr, nullptr, 0);
        return true;
    }
    const uint32_t count = params->count(plugin);
    if (count > kMaxParameters) {
        std::snprintf(failure, failureSize, "it counts %lu parameters", static_cast<unsigned long>(count));
        return false;
    }
    if (count == 0) {
        swapIn(nullptr, nullptr, 0);
        return true;
    }
    ClapParameter* entries = new (std::nothrow) ClapParameter[count];
    uint32_t* byId = new (std::nothrow) uint32_t[count];
    clap_param_info_t* info = new (std::nothrow) clap_param_info_t;
    bool ok = entries && byId && info;
    if (!ok)
        std::snprintf(failure, failureSize, "out of memory");
    for (uint32_t i = 0; ok && i < count; ++i) {
        std::memset(info, 0, sizeof *info);
        info->id = CLAP_INVALID_ID;
        if (!params->get_info(plugin, i, info) || info->id == CLAP_INVALID_ID) {
            std::snprintf(failure, failureSize, "parameter %lu gives no information", static_cast<unsigned long>(i));
            ok = false;
            break;
        }
        ClapParameter& p = entries[i];
        p.id = info->id;
        p.cookie = info->cookie;
        p.flags = info->flags;
        p.min = info->min_value;
        p.max = info->max_value;
        p.defaultValue = info->default_value;
        copyPluginText(p.name, sizeof p.name, info->name, sizeof info->name);
        normaliseRange(p);
        byId[i] = i;
    }
    // The first program list is set apart; the parameters after it move up.
    bool hasPrograms = false;
    ClapParameter programList = {};
    uint32_t shown = count;
    for (uint32_t i = 0; ok && i < count; ++i)
        if (isProgramList(entries[i])) {
            programList = entries[i];
            hasPrograms = true;
            for (uint32_t j = i + 1; j < count; ++j)
                entries[j - 1] = entries[j];
            --shown;
            break;
        }
    if (ok) {
        for (uint32_t i = 0; i < shown; ++i)
            byId[i] = i;
        std::sort(byId, byId + shown, [entries](uint32_t a, uint32_t b) { return entries[a].id < entries[b].id; });
        for (uint32_t i = 0; hasPrograms && ok && i < shown; ++i)
            if (entries[i].id == programList.id) {
                std::snprintf(failure, failureSize, "two parameters have the id %lu",
                              static_cast<unsigned long>(programList.id));
                ok = false;
            }
        for (uint32_t i = 1; ok && i < shown; ++i)
            if (entries[byId[i]].id == entries[byId[i - 1]].id) {
                std::snprintf(failure, failureSize, "two parameters have the id %lu",
                              static_cast<unsigned long>(entries[byId[i]].id));
                ok = false;
            }
    }
    delete info;
    if (!ok) {
        delete[] entries;
        delete[] byId;
        return false;
    }
    swapIn(entries, byId, shown);
    programList_ = programList;
    hasPrograms_ = hasPrograms;
    return true;
}

void ClapParameterTable::rereadNames(const clap_plugin_t* plugin, const clap_plugin_params_t* params) {
    if (!params || !params->get_info || !params->count || params->count(plugin) != count_ + (hasPrograms_ ? 1 : 0))
        return;
    clap_param_info_t* info = new (std::nothrow) clap_param_info_t;
    if (!info)
        return;
    for (uint32_t i = 0; i < params->count(plugin); ++i) {
        std::memset(info, 0, sizeof *info);
        if (!params->get_info(plugin, i, info))
            continue;
        const int32_t index = indexOf(info->id);
        if (index >= 0)
            copyPluginText(entries_[index].name, sizeof entries_[index].name, info->name, sizeof info->name);
    }
    delete info;
}

const ClapParameter* ClapParameterTable::at(int32_t index) const {
    return index >= 0 && uint32_t(index) < count_ ? &entries_[index] : nullptr;
}

int32_t ClapParameterTable::indexOf(clap_id id) const {
    uint32_t low = 0, high = count_;
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        const clap_id found = entries_[byId_[mid]].id;
        if (found == id)
            return int32_t(byId_[mid]);
        if (found < id)
            low = mid + 1;
        else
            high = mid;
    }
    return -1;
}

double ClapParameterTable::toPlain(const ClapParameter& p, float normalised) {
    const double n = std::isfinite(normalised) ? std::min(std::max(double(normalised), 0.0), 1.0) : 0.0;
    const double plain = p.min + n * (p.max - p.min);
    // A stepped parameter takes whole values; the nearest, not the truncation, is meant.
    return (p.flags & CLAP_PARAM_IS_STEPPED) ? std::min(std::max(std::round(plain), p.min), p.max) : plain;
}

float ClapParameterTable::toNormalised(const ClapParameter& p, double plain) {
    if (!(p.max > p.min) || !std::isfinite(plain))
        return 0.0f;
    const double n = (plain - p.min) / (p.max - p.min);
    return float(std::min(std::max(n, 0.0), 1.0));
}

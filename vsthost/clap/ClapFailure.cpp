#include "ClapFailure.h"

#include <cstdio>

namespace {

// %s takes the detail.
const char* const kTexts[] = {
    "the file is not a loadable module (%s)",
    "the module exports no clap_entry: it is not a CLAP plug-in",
    "its clap_entry lacks init, deinit or get_factory",
    "it is built for CLAP %s; Talvenor Live hosts CLAP 1 plug-ins",
    "the plug-in module refused to start (clap_entry init failed)",
    "the module offers no plug-in factory",
    "the module holds no plug-in with the id \"%s\"",
    "\"%s\" is an instrument or note effect, not an audio effect",
    "the module holds no audio effect (only instruments or note effects)",
    "the plug-in's id is longer than Talvenor Live stores",
    "the module failed to create the plug-in \"%s\"",
    "the plug-in lacks a function every CLAP plug-in has (%s)",
    "the plug-in failed to initialise",
    "its audio ports do not read (%s)",
    "its audio ports are %s; effects here take mono or stereo in and out",
    "its parameters do not read (%s)",
    "out of memory",
};
static_assert(sizeof kTexts / sizeof kTexts[0] == size_t(ClapFailure::OutOfMemory) + 1, "one text per failure");

}  // namespace

void describeClapFailure(ClapFailure failure, const char* detail, char* text, size_t size) {
    if (!text || size == 0)
        return;
    std::snprintf(text, size, kTexts[size_t(failure)], detail ? detail : "");
}

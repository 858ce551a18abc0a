#include "Vst3ThreadContract.h"

#include <cstdio>

namespace {

void reportOnStderr(const char* rule) { std::fprintf(stderr, "VST3 host rule broken: %s\n", rule); }

std::atomic<Vst3ThreadContract::BreachHandler> gHandler{&reportOnStderr};
std::atomic<int> gBreaches{0};

}  // namespace

void Vst3ThreadContract::setBreachHandler(BreachHandler handler) {
    gHandler.store(handler ? handler : &reportOnStderr);
}

int Vst3ThreadContract::breachCount() { return gBreaches.load(); }

bool Vst3ThreadContract::expect(bool holds, const char* rule) {
    if (holds)
        return true;
    ++gBreaches;
    gHandler.load()(rule);
    return false;
}

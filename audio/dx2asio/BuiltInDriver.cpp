#include "BuiltInDriver.h"

#include <new>

#include "Dx2AsioDriver.h"

const char kBuiltInDriverName[23] = "ZerevaZ-2-UDID wrapper";

IASIO* createBuiltInDriver() { return new (std::nothrow) Dx2AsioDriver(nullptr); }

void destroyBuiltInDriver(IASIO* driver) {
    if (!driver)
        return;
    INonDelegatingUnknown* self = static_cast<Dx2AsioDriver*>(driver);
    self->deletingDestructor();
}

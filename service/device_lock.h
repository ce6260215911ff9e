// The one lock of the service: the request filter and the driver operator
// hold it for each device-tree query, one query per holding.
#pragma once

#include "service/service.h"

template <class Query>
int underDeviceLock(Query query) {
    EnterCriticalSection(&gcsDeviceLock);
    int result = query();
    LeaveCriticalSection(&gcsDeviceLock);
    return result;
}

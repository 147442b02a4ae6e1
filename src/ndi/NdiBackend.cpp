#include "NdiBackend.h"

#include "StandInBackend.h"

NdiBackend& NdiBackend::instance()
{
    // The stand-in keeps no state of its own beyond the objects callers
    // hold, so its destruction at exit is harmless.
    static StandInBackend backend;
    return backend;
}

// The watcher's counters.
#include "functional/apps/kmsgwatch/counters.h"

#include <cstring>

namespace kmsgwatch {

Counters &counters()
{
    static Counters all;
    return all;
}

unsigned incidentIndex(const char *name)
{
    for (unsigned i = 0; i < IncidentCount; ++i) {
        if (std::strcmp(name, IncidentNames[i]) == 0) {
            return i;
        }
    }
    return IncidentCount;
}

const char *incidentName(unsigned index) { return index < IncidentCount ? IncidentNames[index] : OtherIncident; }

} // namespace kmsgwatch

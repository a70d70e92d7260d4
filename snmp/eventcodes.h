#pragma once

#include <algorithm>
#include <iterator>

namespace Snmp {

// The events a face announces with a warning box (when "pop_warning" is on), all of them notifications of the
// card; the others, and the card going silent or answering again, are only listed.
inline constexpr int warningEvents[]
    = {0x02, 0x03, 0x08, 0x0D, 0x11, 0x13, 0x15, 0x16, 0x17, 0x1B, 0x1C, 0x1F, 0x20, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27,
        0x28, 0x30, 0x31, 0x33, 0x35, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3E, 0x3F, 0x42, 0x48};
inline bool isWarningEvent(int event)
{
    return std::find(std::begin(warningEvents), std::end(warningEvents), event) != std::end(warningEvents);
}

// The notifications that say the machine's power is in danger: on battery, battery low, capacity below the
// card's limit, the UPS shut down for a low battery. A face makes them stand out among the others.
inline constexpr int powerTroubleEvents[] = {0x06, 0x08, 0x40, 0x44};
inline bool isPowerTroubleEvent(int event)
{
    return std::find(std::begin(powerTroubleEvents), std::end(powerTroubleEvents), event)
        != std::end(powerTroubleEvents);
}

} // namespace Snmp

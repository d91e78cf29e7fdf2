#include "engine/transfers_in_flight.h"

#include <algorithm>

unsigned transfersInFlight(const TransferWork& work) {
    const bool mostlySmall = work.smallUnits * 2 > work.units;
    const size_t limit = mostlySmall ? kTransfersForSmallBlobs : kTransfersForLargeBlobs;
    size_t transfers = std::min(limit, work.units);
    if (work.packFetches > 0) transfers = std::max(transfers, std::min(limit, work.packFetches + work.cores));
    return unsigned(std::max<size_t>(transfers, 1));
}

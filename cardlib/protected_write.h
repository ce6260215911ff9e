// DDWritePT: sectors written to the card's drive with a SCSI WRITE(10)
// through the platform's direct pass-through, the caller's buffer handed
// over in place.
#pragma once

#include <stdint.h>

namespace ferrocard {

uint32_t writeProtectedSectors(const uint8_t* data, uint16_t secsize, uint32_t offset);

} // namespace ferrocard

// Tollivar's files and records: the control-protocol and OSD documents and
// the bytes a player read on its serial port.
#include "fuzz_bytes.h"

#include "companion/control_protocol.h"
#include "companion/control_protocol_record.h"
#include "companion/hub_records.h"
#include "companion/osd_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray in = fuzzbytes::bytes(data, size);
    ControlProtocolRecord protocol;
    (void)ReadProtocolJson(in, protocol);
    OsdSettings osd;
    (void)ReadOsdJson(in, osd);
    tollivar::UsartDataRecord serial;
    serial.count = uint16_t(std::min<std::size_t>(size, tollivar::UsartDataRecord::kCapacity - 1));
    std::copy(data, data + serial.count, serial.data.begin());
    (void)controlprotocol::LearnedCommand(serial);
    return 0;
}

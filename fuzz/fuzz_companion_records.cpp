// Tollivar's files and records: the control-protocol and OSD documents, the
// bytes a player read on its serial port, and the hub's reply dispatch (the
// input as one player's byte stream, cut into chunks, with the Set Param and
// OSD windows open so that its records are made and handed over).
#include "fuzz_bytes.h"

#include "companion/control_protocol.h"
#include "companion/control_protocol_record.h"
#include "companion/hub_records.h"
#include "companion/link_hub.h"
#include "companion/osd_record.h"
#include "platform/dialogs.h"
#include "platform/window.h"

#include <QApplication>

namespace {

struct Hub {
    Hub()
    {
        platform::setMessageBoxAnswerer([](const platform::MessageBoxCall&) { return platform::MsgResult::Ok; });
        main = std::make_unique<platform::MessageWindow>(QStringLiteral("Tollivar V1.23"));
        hub = std::make_unique<tollivar::CLinkHub>(*main, QStringLiteral("Tollivar-"), platform::kLanguageEnglish);
        setParam = std::make_unique<platform::MessageWindow>(QString::fromLatin1(tollivar::kSetParamCaption.english));
        osd = std::make_unique<platform::MessageWindow>(QString::fromLatin1(tollivar::kOsdCaption.english));
    }
    std::unique_ptr<platform::MessageWindow> main, setParam, osd;
    std::unique_ptr<tollivar::CLinkHub> hub;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    static Hub hub;

    const QByteArray in = fuzzbytes::bytes(data, size);
    ControlProtocolRecord protocol;
    (void)ReadProtocolJson(in, protocol);
    OsdSettings osd;
    (void)ReadOsdJson(in, osd);
    tollivar::UsartDataRecord serial;
    serial.count = uint16_t(std::min<std::size_t>(size, tollivar::UsartDataRecord::kCapacity - 1));
    std::copy(data, data + serial.count, serial.data.begin());
    (void)controlprotocol::LearnedCommand(serial);

    if (size == 0)
        return 0;
    const std::size_t cut = std::size_t(data[0] % 32) + 1;
    LinkEvent event;
    event.peerAddress = QStringLiteral("127.0.0.3");
    event.port = 5005;
    event.linkIndex = uint16_t(data[0] % tollivar::CLinkHub::kLinkCount);
    event.type = kLinkData;
    for (std::size_t at = 1; at < size; at += cut) {
        event.data = data + at;
        event.length = uint32_t(std::min(cut, size - at));
        hub.hub->OnLinkEvent(event);
    }
    event.type = kLinkPeerClosed;  // the next input starts a fresh stream
    event.data = nullptr;
    event.length = 0;
    hub.hub->OnLinkEvent(event);
    return 0;
}

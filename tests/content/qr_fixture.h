#pragma once
// What the tests of the QR code dialog look at: the player's document, the
// controls showing a document, and the documents (not reads) sent.

#include "content/qr_code.h"
#include "content/qr_model.h"
#include "player/remote_commands.h"
#include "tests/content/content_harness.h"
#include "transport/protocol.h"

#include <QCheckBox>
#include <QLineEdit>

#include <mutex>

namespace contenttest {

// The document the player keeps and returns to a read.
inline QByteArray QrStored(Harness& h)
{
    std::lock_guard lock(h.player->stateMutex());
    return sim::remoteState(*h.player).qrDocument;
}

// Whether the dialog's controls show `document` as a reply of it fills them.
// Before any reply the QR and message boxes are clear and the edits hold the
// defaults: a document that differs from that shows only once its reply came.
inline bool QrShows(const CQRCode& dialog, const QByteArray& document)
{
    qr::QrSettings s;
    if (!qr::ReadDocument(document, s))
        return false;
    const auto& l = s.locations;
    return dialog.check(4509)->isChecked() == (l[0].qrShow == 1) &&
           dialog.check(4510)->isChecked() == (l[0].textShow == 1) &&
           dialog.check(4511)->isChecked() == (l[1].qrShow == 1) &&
           dialog.check(4512)->isChecked() == (l[1].textShow == 1) &&
           dialog.check(4514)->isChecked() == (s.refresh == 1) &&
           dialog.edit(4505)->text() == QString::number(s.showTime) &&
           dialog.edit(4506)->text() == QString::number(s.circleTime) &&
           dialog.edit(4507)->text() == QString::number(l[0].textSize) &&
           dialog.edit(4508)->text() == QString::number(l[1].textSize);
}

// QR code requests that carried a document (an Apply), not reads.
inline std::size_t QrDocumentsSent(const Harness& h)
{
    std::size_t n = 0;
    for (const sim::LogEntry& e : h.requests(proto::CMD_QRCODE))
        n += e.header.param == 0 && !e.payload.isEmpty();
    return n;
}

}  // namespace contenttest

#include "core/devices/product_information.h"

#include "common/controls/dialog_keys.h"
#include "platform/messages.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include <memory>

namespace {

QPlainTextEdit* textGroup(QDialog* dialog, QVBoxLayout* outer, const QString& title, int id)
{
    auto* group = new QGroupBox(title, dialog);
    auto* inner = new QVBoxLayout(group);
    auto* edit = new QPlainTextEdit(group);
    edit->setObjectName(ControlName(id));
    edit->setReadOnly(true);
    inner->addWidget(edit);
    outer->addWidget(group);
    return edit;
}

}  // namespace

CQueryProductInformation::CQueryProductInformation(const QString& titlePrefix, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::kProductInfo, parent)
{
    resize(460, 300);
    auto* outer = new QVBoxLayout(this);
    text_ = textGroup(this, outer, Text("Information", "产品信息"), 3601);
    outer->addWidget(controls::MakeOkCancelRow(this, Text("Get Information", "获取信息"), Text("Cancel", "关闭")));
    onMessage(platform::WM_PRODUCT_INFO_REPLY, [this](platform::WPARAM, platform::LPARAM lParam) {
        // Call-scoped text owned by the document.
        if (const auto* info = reinterpret_cast<const QString*>(lParam))
            text_->setPlainText(*info);
        text_->update();
        return platform::LRESULT(0);
    });
}

void CQueryProductInformation::OnInitDialog()
{
    OnGetInformation();
}

void CQueryProductInformation::OnGetInformation()
{
    SendToPlayer(Header(proto::CMD_PRODUCT_INFO));
}

QString CQueryProductInformation::InformationText() const
{
    return text_->toPlainText();
}

namespace usart {

QString HexLine(const uint8_t* data, std::size_t count)
{
    QString line;
    line.reserve(int(count * 3));
    for (std::size_t i = 0; i < count; ++i)
        line += QString::asprintf("%02x ", data[i]);
    return line;
}

}  // namespace usart

CQueryUsartCommand::CQueryUsartCommand(const QString& titlePrefix, QWidget* parent)
    : CDeviceDialog(titlePrefix, replies::kUsart, parent)
{
    resize(560, 360);
    auto* outer = new QVBoxLayout(this);
    text_ = textGroup(this, outer, Text("USART Commands", "串口命令"), 4101);
    // A monitor left open for days must not grow without end.
    text_->setMaximumBlockCount(kMaxLines);
    outer->addWidget(controls::MakeOkCancelRow(this, Text("OK", "确定"), Text("Cancel", "关闭")));
    onMessage(platform::WM_USART_DATA_REPLY, [this](platform::WPARAM, platform::LPARAM lParam) {
        std::unique_ptr<replies::UsartRecord> record(reinterpret_cast<replies::UsartRecord*>(lParam));
        if (!record)
            return platform::LRESULT(0);
        const std::size_t count = std::min<std::size_t>(record->count, record->data.size());
        QTextCursor cursor = text_->textCursor();
        cursor.movePosition(QTextCursor::End);
        text_->setTextCursor(cursor);
        cursor.insertText(usart::HexLine(record->data.data(), count) + QLatin1Char('\n'));
        text_->ensureCursorVisible();
        text_->repaint();
        return platform::LRESULT(0);
    });
}

CQueryUsartCommand::~CQueryUsartCommand()
{
    platform::MessageWindow::killTimer(kTimerPoll);
}

void CQueryUsartCommand::OnInitDialog()
{
    platform::MessageWindow::setTimer(kTimerPoll, kPollMs);
}

void CQueryUsartCommand::onTimer(unsigned id)
{
    if (id == kTimerPoll)
        SendToPlayer(Header(proto::CMD_USART_DATA));
}

void CQueryUsartCommand::reject()
{
    platform::MessageWindow::killTimer(kTimerPoll);
    QDialog::reject();
}

QString CQueryUsartCommand::MonitorText() const
{
    return text_->toPlainText();
}

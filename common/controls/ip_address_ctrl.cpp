#include "common/controls/ip_address_ctrl.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

CIPAddressCtrl::CIPAddressCtrl(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i > 0)
            row->addWidget(new QLabel(QStringLiteral("."), this));
        auto* field = new QSpinBox(this);
        field->setRange(0, 255);
        field->setButtonSymbols(QAbstractSpinBox::NoButtons);
        field->setAlignment(Qt::AlignCenter);
        field->setMinimumWidth(44);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        fields_[i] = field;
        row->addWidget(field);
    }
}

std::array<uint8_t, 4> CIPAddressCtrl::GetAddress() const
{
    std::array<uint8_t, 4> bytes{};
    for (std::size_t i = 0; i < fields_.size(); ++i)
        bytes[i] = uint8_t(fields_[i]->value());
    return bytes;
}

void CIPAddressCtrl::SetAddress(const std::array<uint8_t, 4>& bytes)
{
    for (std::size_t i = 0; i < fields_.size(); ++i)
        fields_[i]->setValue(bytes[i]);
}

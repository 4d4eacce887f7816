#pragma once
// CIPAddressCtrl: four number fields (0-255 each) separated by dots, for an
// IPv4 address or mask.

#include <QWidget>

#include <array>
#include <cstdint>

class QSpinBox;

class CIPAddressCtrl : public QWidget {
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    std::array<uint8_t, 4> GetAddress() const;
    void SetAddress(const std::array<uint8_t, 4>& bytes);
    // The field (0..3), for tests and keyboard focus.
    QSpinBox* Field(int index) const { return fields_[std::size_t(index)]; }

private:
    std::array<QSpinBox*, 4> fields_{};
};

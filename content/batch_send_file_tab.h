#pragma once
// CBatchSendFileTab: the "Bach Send" window with three independent batch
// pages on tabs "Bach1".."Bach3". The pages keep scanning and sending while
// hidden. TCP link events reach it by link index (the page index) and go to
// that page; each page's datagrams reach that page directly.

#include "platform/window.h"

#include <QDialog>
#include <QString>

#include <array>

class CBatchSendFile;
class QTabWidget;

class CBatchSendFileTab : public QDialog, public platform::MessageWindow {
public:
    static constexpr int kPages = 3;

    explicit CBatchSendFileTab(const QString& titlePrefix, QWidget* parent = nullptr);
    ~CBatchSendFileTab() override;

    QTabWidget* tabs() const { return tabs_; }
    CBatchSendFile* page(int index) const { return pages_[std::size_t(index)]; }
    void OnTabChanged(int index);

    // Closing asks the shown page's question; on Yes every page stops its
    // timers and closes its files, link and endpoint before the pages go.
    void reject() override;

private:
    QTabWidget* tabs_ = nullptr;
    std::array<CBatchSendFile*, kPages> pages_{};
};

#pragma once
// CSetMovConfTab: the "Video Source Settings" window, one video store page
// per screen of the player ("First Screen" always, "Second Screen" with two
// screens or more). The core finds it by caption and sends it the store's
// replies; it hands each to the page of the selected tab, except that the
// replies of an upload go to the page that started it.

#include "platform/window.h"

#include <QDialog>
#include <QString>

#include <array>
#include <cstdint>

class CSetMovConf;
class QTabWidget;

class CSetMovConfTab : public QDialog, public platform::MessageWindow {
    Q_OBJECT
public:
    CSetMovConfTab(const QString& titlePrefix, uint32_t screens, uint16_t version, const QString& rootLabel,
                   QWidget* parent = nullptr);
    ~CSetMovConfTab() override;

    // What OnInitDialog did: the first page asks for its catalogue.
    void OnInitDialog();
    // The tab selection changed: show that page and let it refresh.
    void OnTabChanged(int index);

    QTabWidget* tabs() const { return tabs_; }
    CSetMovConf* page(int index) const { return pages_[std::size_t(index)]; }
    int pageCount() const { return pages_[1] ? 2 : 1; }

private:
    platform::LRESULT Relay(unsigned id, platform::WPARAM wParam, platform::LPARAM lParam);

    QTabWidget* tabs_ = nullptr;
    std::array<CSetMovConf*, 2> pages_{};
    bool ready_ = false;
};

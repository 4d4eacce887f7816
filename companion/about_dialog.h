#pragma once
// Tollivar's About box: the title and the build date.

#include <QDialog>
#include <QString>

namespace tollivar {

class CAboutDlg : public QDialog {
public:
    CAboutDlg(const QString& title, unsigned language, QWidget* parent = nullptr);
};

}  // namespace tollivar

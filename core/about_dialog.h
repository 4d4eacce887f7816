#pragma once
// CAboutDlg: the About box. Shows the build date and time and the title.

#include <QDialog>
#include <QString>

class QKeyEvent;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(const QString& title, unsigned language, QWidget* parent = nullptr);
    // "Built: " + build date ("Nov 10 2020") + " " + build time ("17:29:26").
    static QString BuildText();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

#pragma once
// CSaveParamWait: a modeless, borderless, topmost box that shows a waiting
// text in large green letters for a number of seconds and then hides itself.
// It stays created for the next use. Keys cannot close or change it.

#include <QDialog>
#include <QString>

#include <cstdint>

class QLabel;
class QTimer;

class CSaveParamWait : public QDialog {
    Q_OBJECT
public:
    // `language` 4 = Chinese (the text starts empty), else English.
    explicit CSaveParamWait(unsigned language, QWidget* owner = nullptr);

    // Shows the box centred on its owner with `text`, counting `seconds` down.
    void ShowWait(const QString& text, uint16_t seconds);
    // Hides the box at once and stops the countdown.
    void CloseWait();

    // One second of the countdown (timer 100). While active: counts down,
    // and hides the box on the tick on which the count reaches 0.
    void Tick();

    bool IsActive() const { return active_; }
    uint16_t SecondsLeft() const { return secondsLeft_; }
    QString Text() const;

    static constexpr int kTimerMs = 1000;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void reject() override;  // Esc and the window manager do not close it

private:
    QLabel* label_ = nullptr;
    QTimer* timer_ = nullptr;
    bool active_ = false;
    uint16_t secondsLeft_ = 0;
};

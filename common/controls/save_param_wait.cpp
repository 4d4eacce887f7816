#include "common/controls/save_param_wait.h"

#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

CSaveParamWait::CSaveParamWait(unsigned language, QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("342"));
    setModal(false);
    label_ = new QLabel(this);
    label_->setObjectName(QStringLiteral("5101"));
    label_->setAlignment(Qt::AlignCenter);
    QFont font(QStringLiteral("Microsoft Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(40);
    font.setWeight(QFont::Normal);
    label_->setFont(font);
    label_->setStyleSheet(QStringLiteral("color: rgb(0, 255, 0);"));
    label_->setText(language == 4 ? QString() : QStringLiteral("Save Param Wait..."));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    resize(420, 120);

    timer_ = new QTimer(this);
    timer_->setInterval(kTimerMs);
    connect(timer_, &QTimer::timeout, this, &CSaveParamWait::Tick);
    timer_->start();
}

QString CSaveParamWait::Text() const
{
    return label_->text();
}

void CSaveParamWait::ShowWait(const QString& text, uint16_t seconds)
{
    label_->setText(text);
    secondsLeft_ = seconds;
    active_ = true;
    if (QWidget* owner = parentWidget()) {
        const QRect area = owner->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
}

void CSaveParamWait::CloseWait()
{
    active_ = false;
    secondsLeft_ = 0;
    hide();
}

void CSaveParamWait::Tick()
{
    if (!active_)
        return;
    if (secondsLeft_ > 0)
        --secondsLeft_;
    if (secondsLeft_ == 0) {
        active_ = false;
        hide();
    }
}

void CSaveParamWait::keyPressEvent(QKeyEvent* event)
{
    event->accept();
}

void CSaveParamWait::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
}

void CSaveParamWait::reject()
{
    // Only the countdown or the owner closes the box.
}

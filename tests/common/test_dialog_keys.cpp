// The dialogs' shared Enter/Esc handling and their plain push button.
#include "common/controls/dialog_keys.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// As the device dialogs do: Enter and Esc never close it.
class KeyProofDialog : public QDialog {
protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!controls::SwallowEnterEsc(event))
            QDialog::keyPressEvent(event);
    }
};

TEST(DialogKeys, WhichKeysAreTakenAndTheEventIsAccepted)
{
    const struct { const char* name; int key; Qt::KeyboardModifiers modifiers; bool enter, enterOrEsc; } cases[] = {
        {"Return", Qt::Key_Return, Qt::NoModifier, true, true},
        {"keypad Enter", Qt::Key_Enter, Qt::KeypadModifier, true, true},
        {"Esc", Qt::Key_Escape, Qt::NoModifier, false, true},
        {"Tab", Qt::Key_Tab, Qt::NoModifier, false, false},
        {"Space (presses a focused button)", Qt::Key_Space, Qt::NoModifier, false, false},
        {"F5", Qt::Key_F5, Qt::NoModifier, false, false},
        {"letter R", Qt::Key_R, Qt::NoModifier, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(controls::IsEnterKey(c.key), c.enter) << c.name;
        EXPECT_EQ(controls::IsEnterOrEscKey(c.key), c.enterOrEsc) << c.name;
        // A key a child ignored reaches the dialog ignored: a taken one leaves accepted.
        QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers);
        event.ignore();
        EXPECT_EQ(controls::SwallowEnterEsc(&event), c.enterOrEsc) << c.name;
        EXPECT_EQ(event.isAccepted(), c.enterOrEsc) << c.name;
    }
}

TEST(DialogKeys, EnterInAnEditPressesNoButtonAndKeepsTheDialogOpen)
{
    QDialog dialog;
    auto* edit = new QLineEdit(&dialog);
    QPushButton* byName = controls::MakeButton(QStringLiteral("Save"), QStringLiteral("Save"), &dialog);
    QPushButton* byId = controls::MakeButton(QStringLiteral("Exit"), 2, &dialog);
    EXPECT_EQ(byName->objectName(), QStringLiteral("Save"));
    EXPECT_EQ(byId->objectName(), QStringLiteral("2"));
    EXPECT_EQ(byId->text(), QStringLiteral("Exit"));
    EXPECT_EQ(byId->parentWidget(), &dialog);
    QSignalSpy savedClicks(byName, &QPushButton::clicked), exitClicks(byId, &QPushButton::clicked);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.show();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(savedClicks.count(), 0);
    EXPECT_EQ(exitClicks.count(), 0);
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
}

TEST(DialogKeys, OkCancelRowAcceptsRejectsAndEnterEscAreSwallowed)
{
    const struct { const char* button; QDialog::DialogCode result; } cases[] = {
        {"1", QDialog::Accepted},
        {"2", QDialog::Rejected},
    };
    for (const auto& c : cases) {
        KeyProofDialog dialog;
        auto* edit = new QLineEdit(&dialog);
        QDialogButtonBox* row = controls::MakeOkCancelRow(&dialog, QStringLiteral("Apply"), QStringLiteral("Close"));
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.show();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_Escape);
        EXPECT_EQ(finished.count(), 0) << c.button;
        auto* button = row->findChild<QPushButton*>(QString::fromLatin1(c.button));
        ASSERT_TRUE(button) << c.button;
        button->click();
        ASSERT_EQ(finished.count(), 1) << c.button;
        EXPECT_EQ(finished.first().first().toInt(), int(c.result)) << c.button;
    }
}

}  // namespace

// The option check boxes: each edits its own option; dual boot locks "Boot Windows 95 as
// Default OS"; switching a compressed-drive driver off asks first.

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

#include "platform/qt/ui.h"
#include "windowfixture.h"

namespace {

class CheckBoxTest : public WindowTest {
protected:
    void SetUp() override
    {
        writeBootDrive("BootMulti=1\r\nBootWin=0\r\n");
        open();
    }
};

// The boxes without rules of their own: a click flips their option and nothing else.
TEST_F(CheckBoxTest, PlainBoxesEditOnlyTheirOwnOption)
{
    for (const BoxDesign& box : BoxDesigns) {
        if (box.index == 2 || box.index == 9 || box.index == 10)
            continue;
        SCOPED_TRACE(box.caption);
        EXPECT_EQ(window->Check[box.index]->text(), box.caption);
        for (int click = 0; click < 2; ++click) {
            BootOptions expected = window->Options;
            expected.*box.option = !(expected.*box.option);
            window->Check[box.index]->click();
            EXPECT_EQ(window->Options, expected);
            EXPECT_EQ(window->Check[box.index]->isChecked(), expected.*box.option);
        }
    }
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(window->Check[5]->isEnabled());
}

TEST_F(CheckBoxTest, DualBootOffForcesAndLocksWindows95)
{
    ASSERT_FALSE(window->Check[5]->isChecked());
    window->Check[2]->click();  // off, while Windows 95 is not the default
    EXPECT_FALSE(window->Options.BootMulti);
    EXPECT_TRUE(window->Options.BootWin);
    EXPECT_TRUE(window->Check[5]->isChecked());
    EXPECT_FALSE(window->Check[5]->isEnabled());
    EXPECT_TRUE(window->UserEditing);

    window->Check[2]->click();  // on again: unlocked, still checked
    EXPECT_TRUE(window->Options.BootMulti);
    EXPECT_TRUE(window->Check[5]->isEnabled());
    EXPECT_TRUE(window->Check[5]->isChecked());
    EXPECT_TRUE(window->Options.BootWin);

    window->Check[5]->click();  // the user may now clear it
    EXPECT_FALSE(window->Options.BootWin);
    EXPECT_FALSE(window->Check[5]->isChecked());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(CheckBoxTest, DualBootOffKeepsAnAlreadyCheckedWindows95)
{
    window->Check[5]->click();
    ASSERT_TRUE(window->Options.BootWin);
    window->Check[2]->click();
    EXPECT_TRUE(window->Check[5]->isChecked());
    EXPECT_FALSE(window->Check[5]->isEnabled());
    EXPECT_TRUE(window->Options.BootWin);
}

// Both drivers, both answers: one question, exactly worded; Yes lets the box go, No
// puts it back without asking again.
TEST_F(CheckBoxTest, CompressedDriveDriverOffAsksFirst)
{
    for (int index : {9, 10}) {
        bool BootOptions::*option = index == 9 ? &BootOptions::DRVSpace : &BootOptions::DBLSpace;
        for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::Yes}) {
            SCOPED_TRACE(index);
            SCOPED_TRACE(answer == MsgAnswer::Yes ? "Yes" : "No");
            boxes.shown.clear();
            BootOptions expected = window->Options;
            ASSERT_TRUE(window->Check[index]->isChecked());
            expected.*option = answer == MsgAnswer::No;

            boxes.answer(answer);
            window->Check[index]->click();
            ASSERT_EQ(boxes.shown.size(), 1u);
            const MessageBoxRequest& box = boxes.shown[0];
            EXPECT_EQ(box.text, CompressedDriveQuestion);
            EXPECT_EQ(box.title, "Varnello");
            EXPECT_EQ(box.buttons, MsgButtons::YesNo);
            EXPECT_EQ(box.icon, MsgIcon::Exclamation);
            EXPECT_EQ(box.defaultButton, MsgAnswer::No);
            EXPECT_EQ(window->Options, expected);
            EXPECT_EQ(window->Check[index]->isChecked(), answer == MsgAnswer::No);
        }
        // Switching the driver back on asks nothing.
        boxes.shown.clear();
        window->Check[index]->click();
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_TRUE(window->Options.*option);
    }
}

// A mouse click runs inside the button's own click handling; a box put back by No from
// there must still report the user's next click.
TEST_F(CheckBoxTest, DriverPutBackByNoAsksAgainOnTheNextMouseClick)
{
    window->show();
    for (MsgAnswer answer : {MsgAnswer::No, MsgAnswer::No, MsgAnswer::Yes}) {
        boxes.shown.clear();
        boxes.answer(answer);
        QTest::mouseClick(window->Check[9], Qt::LeftButton, {}, QPoint(5, 5));
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(window->Check[9]->isChecked(), answer == MsgAnswer::No);
        EXPECT_EQ(window->Options.DRVSpace, answer == MsgAnswer::No);
    }
}

// The question through a real message box, as the user meets it.
TEST_F(CheckBoxTest, CompressedDriveQuestionInARealMessageBox)
{
    SetMessageBoxHandler({});
    bool seen = false;
    WhenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_TRUE(box);
        seen = true;
        EXPECT_EQ(box->text(), CompressedDriveQuestion);
        EXPECT_EQ(box->windowTitle(), "Varnello");
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
        box->button(QMessageBox::No)->click();
    });
    window->Check[9]->click();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(window->Options.DRVSpace);
    EXPECT_TRUE(window->Check[9]->isChecked());
}

}  // namespace

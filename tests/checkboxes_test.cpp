// The option check boxes: each edits its own option; dual boot locks "Boot Windows 95 as
// Default OS"; switching a compressed-drive driver off asks first.

#include <QAbstractButton>
#include <QMessageBox>

#include "windowfixture.h"

namespace {

class CheckBoxTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(openOptions("BootMulti=1\r\nBootWin=0\r\n")); }
    BootOptions fromFile() const
    {
        BootOptions read = Windows95Defaults;
        read.BootMulti = true;
        read.BootWin = false;
        return read;
    }
};

// The boxes without rules of their own: a click flips their option and nothing else.
TEST_F(CheckBoxTest, PlainBoxesEditOnlyTheirOwnOption)
{
    BootOptions expected = fromFile();
    for (const BoxDesign& box : BoxDesigns) {
        if (box.index == 2 || box.index == 9 || box.index == 10)
            continue;
        SCOPED_TRACE(box.caption);
        EXPECT_EQ(check(box.index)->text(), box.caption);
        expected.*box.option = !(expected.*box.option);
        toggle(box.index);
        EXPECT_EQ(check(box.index)->isChecked(), expected.*box.option);
    }
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(check(5)->isEnabled());
    EXPECT_EQ(saved(), expected);
}

TEST_F(CheckBoxTest, DualBootOffForcesAndLocksWindows95)
{
    ASSERT_FALSE(check(5)->isChecked());
    toggle(2);  // off, while Windows 95 is not the default
    EXPECT_TRUE(check(5)->isChecked());
    EXPECT_FALSE(check(5)->isEnabled());

    toggle(2);  // on again: unlocked, still checked
    EXPECT_TRUE(check(5)->isEnabled());
    EXPECT_TRUE(check(5)->isChecked());
    EXPECT_TRUE(boxes.shown.empty());
    // The forcing was the program's, not the user's: switching a driver off still asks.
    toggle(9);
    EXPECT_EQ(boxes.shown.size(), 1u);

    BootOptions expected = fromFile();
    expected.BootWin = true;
    EXPECT_EQ(saved(), expected);
}

TEST_F(CheckBoxTest, Windows95MayBeClearedOnceDualBootIsBack)
{
    toggle(2);
    toggle(2);
    toggle(5);
    EXPECT_FALSE(check(5)->isChecked());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(saved(), fromFile());
}

TEST_F(CheckBoxTest, DualBootOffKeepsAnAlreadyCheckedWindows95)
{
    toggle(5);
    toggle(2);
    EXPECT_TRUE(check(5)->isChecked());
    EXPECT_FALSE(check(5)->isEnabled());
    BootOptions expected = fromFile();
    expected.BootMulti = false;
    expected.BootWin = true;
    EXPECT_EQ(saved(), expected);
}

// Both drivers, both answers: one question, exactly worded; Yes lets the box go, No
// puts it back, and the next click asks again. Switching the driver back on asks nothing.
TEST_F(CheckBoxTest, CompressedDriveDriverOffAsksFirst)
{
    BootOptions expected = fromFile();
    for (const int index : {9, 10}) {
        for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::No, MessageAnswer::Yes}) {
            SCOPED_TRACE(testing::Message() << index << (answer == MessageAnswer::Yes ? " Yes" : " No"));
            boxes.shown.clear();
            ASSERT_TRUE(check(index)->isChecked());
            boxes.answer(answer);
            toggle(index);
            ASSERT_EQ(boxes.shown.size(), 1u);
            const MessageBoxRequest& box = boxes.shown[0];
            EXPECT_EQ(box.text, CompressedDriveQuestion);
            EXPECT_EQ(box.title, "Varnello");
            EXPECT_EQ(box.buttons, MessageButtons::YesNo);
            EXPECT_EQ(box.icon, MessageIcon::Exclamation);
            EXPECT_EQ(box.defaultButton, MessageAnswer::No);
            EXPECT_EQ(check(index)->isChecked(), answer == MessageAnswer::No);
        }
        if (index == 9) {
            boxes.shown.clear();
            toggle(index);
            EXPECT_TRUE(boxes.shown.empty());
            EXPECT_TRUE(check(index)->isChecked());
        }
    }
    expected.DBLSpace = false;
    EXPECT_EQ(saved(), expected);
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
    toggle(9);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(check(9)->isChecked());
    MessageBoxes again;  // back to the stand-in, for the save
    again.answer(MessageAnswer::Yes);
    click("ExitVRNL");
    ASSERT_TRUE(closed());
    EXPECT_EQ(ReadBootOptions(MsdosSys), fromFile());
}

}  // namespace

// The status line: the pointer over a control shows its help; the bare window and the
// frames clear it; the spin buttons and the status line itself leave it alone.

#include <QToolButton>

#include "platform/qt/twips.h"
#include "windowfixture.h"

namespace {

class StatusHelpTest : public WindowTest {
protected:
    void SetUp() override
    {
        writeBootDrive("BootMulti=1\r\n");  // every box enabled
        open();
        window->show();  // lays out the spin buttons' arrows
    }
    QString over(const QWidget* control)
    {
        MovePointer(window, CentreIn(window, control));
        return help();
    }
    QString help() const { return window->FastHelp->simpleText(); }
    // In client twips, where no control lies.
    void overBareWindow() { MovePointer(window, QPoint(Pixels(3250), Pixels(200))); }
};

TEST_F(StatusHelpTest, EachControlExplainsItself)
{
    const std::pair<int, const char*> boxes[] = {
        {1, "Enables automatic display of the Windows 95 Startup menu."},
        {2, "Enables dual-boot capabilities. Checking this box enables the ability to start MS-DOS."},
        {3, "Enables the startup option keys."},
        {4, "Enables loading of COMMAND.COM or DRVSPACE.BIN at the top of 640K memory."},
        {5, "Enables Windows 95 as the default operating system."},
        {6, "Enables the Safe Mode startup warning."},
        {7, "Enables display of the animated logo."},
        {8, "Enables automatic graphical startup into Windows 95."},
        {9, "Enables automatic loading of DRVSPACE.BIN."},
        {10, "Enables automatic loading of DBLSPACE.BIN."},
        {11, "Enables Safe Mode With Networking as a menu option."},
        {12, "Enables loading of a double-buffering driver for a SCSI controller."},
    };
    const char* const rows[] = {
        "Sets the initial startup delay to n seconds.",
        "Sets the number of seconds to display the Windows Startup menu.",
        "Sets the default menu item on the Windows Startup menu.",
    };
    std::vector<std::pair<const QWidget*, QString>> table;
    for (const auto& [index, text] : boxes)
        table.emplace_back(window->Check[index], text);
    for (int i = 0; i < 3; ++i) {
        table.emplace_back(window->Text[i], rows[i]);
        table.emplace_back(window->SSPanel6[i], rows[i]);
    }
    table.emplace_back(window->InfoAbout, "Display the information dialog box");
    table.emplace_back(window->DefaultSettings, "Restore the original Windows 95 configuration");
    table.emplace_back(window->ExitVRNL, "Exit 'Varnello'");

    EXPECT_EQ(help(), "");
    for (const auto& [control, text] : table) {
        SCOPED_TRACE(text.toStdString());
        overBareWindow();
        ASSERT_EQ(help(), "");
        EXPECT_EQ(over(control), text);
        // A stream of movements over the same control keeps the same text.
        EXPECT_EQ(over(control), text);
    }
}

TEST_F(StatusHelpTest, BareWindowAndFramesClear)
{
    // Points inside each frame that no framed control covers, in client twips.
    const std::pair<const QWidget*, QPoint> surfaces[] = {
        {window, {3250, 200}},
        {window->SSPanel1, {160, 160}},
        {window->SSPanel2, {3400, 520}},
        {window->SSPanel3, {3510, 1830}},
        {window->SSPanel4, {5190, 510}},
        {window->SSPanel5, {3400, 3040}},
    };
    for (const auto& [surface, twips] : surfaces) {
        const QPoint at(Pixels(twips.x()), Pixels(twips.y()));
        SCOPED_TRACE(surface->metaObject()->className());
        ASSERT_EQ(window->childAt(at), surface == window ? nullptr : surface);
        over(window->Check[1]);
        MovePointer(window, at);
        EXPECT_EQ(help(), "");
    }
}

TEST_F(StatusHelpTest, SpinButtonsAndStatusLineChangeNothing)
{
    EXPECT_EQ(over(window->Text[0]), "Sets the initial startup delay to n seconds.");
    // Straight from the field onto its spin button, over both arrows.
    EXPECT_EQ(over(window->Spin[0]->upArrow()), "Sets the initial startup delay to n seconds.");
    EXPECT_EQ(over(window->Spin[0]->downArrow()), "Sets the initial startup delay to n seconds.");

    over(window->ExitVRNL);
    for (const QWidget* silent :
         {static_cast<const QWidget*>(window->Spin[1]->upArrow()), static_cast<const QWidget*>(window->Spin[2]->downArrow()),
          static_cast<const QWidget*>(window->FastHelp)})
        EXPECT_EQ(over(silent), "Exit 'Varnello'");
    overBareWindow();
    EXPECT_EQ(over(window->FastHelp), "");
}

// Down from Check(3) to Check(4): through the gap, which is the frame, the line empties.
TEST_F(StatusHelpTest, GapBetweenBoxesIsTheFrame)
{
    const int x = Pixels(240 + 200);
    QStringList seen;
    for (int y = Pixels(960); y < Pixels(1320) + Pixels(255); ++y) {
        MovePointer(window, QPoint(x, y));
        if (seen.isEmpty() || seen.back() != help())
            seen.append(help());
    }
    EXPECT_EQ(seen, QStringList({"Enables the startup option keys.", "",
                                 "Enables loading of COMMAND.COM or DRVSPACE.BIN at the top of 640K memory."}));
}

// A box locked by the dual-boot rule still explains itself.
TEST_F(StatusHelpTest, ALockedBoxExplainsItself)
{
    window->Check[2]->click();
    ASSERT_FALSE(window->Check[5]->isEnabled());
    overBareWindow();
    EXPECT_EQ(over(window->Check[5]), "Enables Windows 95 as the default operating system.");
}

// The help belongs to the control, not to its state.
TEST_F(StatusHelpTest, TickingDoesNotChangeTheText)
{
    const QString before = over(window->Check[2]);
    window->Check[1]->click();
    window->Check[2]->click();
    EXPECT_EQ(help(), before);
    EXPECT_EQ(over(window->Check[2]), before);
    EXPECT_TRUE(before.startsWith("Enables"));
}

}  // namespace

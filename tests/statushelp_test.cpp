// The status line: the pointer over a control shows its help; the bare window and the
// frames clear it; the spin buttons and the status line itself leave it alone.

#include <QToolButton>

#include "platform/qt/twips.h"
#include "windowfixture.h"

namespace {

class StatusHelpTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(openOptions("BootMulti=1\r\n")); }  // every box enabled
    QString over(const QWidget* control)
    {
        MovePointer(window, CentreIn(window, control));
        return help();
    }
    QString help() const { return find<StatusBar>("FastHelp")->simpleText(); }
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
    for (const auto& [index, help] : boxes)
        table.emplace_back(check(index), help);
    for (int i = 0; i < 3; ++i) {
        table.emplace_back(text(i), rows[i]);
        table.emplace_back(find(QStringLiteral("SSPanel6(%1)").arg(i)), rows[i]);
    }
    table.emplace_back(command("InfoAbout"), "Display the information dialog box");
    table.emplace_back(command("DefaultSettings"), "Restore the original Windows 95 configuration");
    table.emplace_back(command("ExitVRNL"), "Exit 'Varnello'");

    EXPECT_EQ(help(), "");
    for (const auto& [control, shown] : table) {
        SCOPED_TRACE(shown.toStdString());
        overBareWindow();
        ASSERT_EQ(help(), "");
        EXPECT_EQ(over(control), shown);
        // A stream of movements over the same control keeps the same text.
        EXPECT_EQ(over(control), shown);
    }
}

TEST_F(StatusHelpTest, BareWindowAndFramesClear)
{
    // Points inside each frame that no framed control covers, in client twips.
    const std::pair<const char*, QPoint> surfaces[] = {
        {nullptr, {3250, 200}},  // the bare window
        {"SSPanel1", {160, 160}},
        {"SSPanel2", {3400, 520}},
        {"SSPanel3", {3510, 1830}},
        {"SSPanel4", {5190, 510}},
        {"SSPanel5", {3400, 3040}},
    };
    for (const auto& [surface, twips] : surfaces) {
        const QPoint at(Pixels(twips.x()), Pixels(twips.y()));
        SCOPED_TRACE(surface ? surface : "window");
        ASSERT_EQ(window->childAt(at), surface ? find(QLatin1String(surface)) : nullptr);
        over(check(1));
        MovePointer(window, at);
        EXPECT_EQ(help(), "");
    }
}

TEST_F(StatusHelpTest, SpinButtonsAndStatusLineChangeNothing)
{
    EXPECT_EQ(over(text(0)), "Sets the initial startup delay to n seconds.");
    // Straight from the field onto its spin button, over both arrows.
    EXPECT_EQ(over(spin(0)->upArrow()), "Sets the initial startup delay to n seconds.");
    EXPECT_EQ(over(spin(0)->downArrow()), "Sets the initial startup delay to n seconds.");

    over(command("ExitVRNL"));
    for (const QWidget* silent : {static_cast<const QWidget*>(spin(1)->upArrow()),
                                  static_cast<const QWidget*>(spin(2)->downArrow()),
                                  static_cast<const QWidget*>(find("FastHelp"))})
        EXPECT_EQ(over(silent), "Exit 'Varnello'");
    overBareWindow();
    EXPECT_EQ(over(find("FastHelp")), "");
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
    toggle(2);
    ASSERT_FALSE(check(5)->isEnabled());
    overBareWindow();
    EXPECT_EQ(over(check(5)), "Enables Windows 95 as the default operating system.");
}

// The help belongs to the box, not to its state.
TEST_F(StatusHelpTest, TickingDoesNotChangeTheText)
{
    const QString ticked = over(check(2));
    toggle(2);
    ASSERT_EQ(check(2)->checkState(), Qt::Unchecked);
    overBareWindow();
    EXPECT_EQ(over(check(2)), ticked);
    EXPECT_TRUE(ticked.startsWith("Enables"));
}

}  // namespace

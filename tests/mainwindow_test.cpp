// The main window's layout, keyboard order, default and cancel keys, and field lengths.

#include <QTest>
#include <QToolButton>

#include "app/information.h"
#include "platform/qt/twips.h"
#include "windowfixture.h"

namespace {

class MainWindowTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(openOptions("BootMulti=1\r\nBootDelay=150\r\n")); }
    QRect placeOf(const QWidget* control) const { return {control->mapTo(window, QPoint(0, 0)), control->size()}; }
};

TEST_F(MainWindowTest, FixedClientAreaCentred)
{
    EXPECT_EQ(window->size(), QSize(Pixels(6390), Pixels(5055)));
    EXPECT_EQ(window->size(), QSize(426, 337));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->windowTitle(), "Varnello");
    EXPECT_EQ(window->pos(), CentredCorner(window->frameGeometry().size()));

    // Where a title bar offers to maximise it anyway, the window stays as it is.
    window->setWindowState(Qt::WindowMaximized);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->windowState(), Qt::WindowNoState);
    EXPECT_EQ(window->size(), QSize(426, 337));
}

// The designed places live in one table, and the end-to-end run measures them on a real
// screen; here: every control lies inside the window and inside its frame, and none
// covers another.
TEST_F(MainWindowTest, ControlsInsideTheirFramesWithoutOverlap)
{
    const QRect client = window->rect();
    std::vector<QRect> frames;
    for (const char* name : {"SSPanel1", "SSPanel2", "SSPanel3", "SSPanel4", "SSPanel5"})
        frames.push_back(placeOf(find(QLatin1String(name))));
    std::vector<std::pair<QString, QRect>> controls;
    for (const QWidget* control : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!control->objectName().startsWith("SSPanel") || control->objectName().startsWith("SSPanel6"))
            controls.emplace_back(control->objectName(), placeOf(control));
    }
    ASSERT_EQ(controls.size(), 12u + 3 * 3 + 3 + 1);
    for (const auto& [name, place] : controls) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(client.contains(place));
        const auto framing = std::count_if(frames.begin(), frames.end(), [&](QRect f) { return f.contains(place); });
        EXPECT_EQ(framing, name == "FastHelp" ? 0 : 1);
        for (const auto& [other, otherPlace] : controls)
            EXPECT_TRUE(other == name || !place.intersects(otherPlace)) << "covers " << other.toStdString();
    }
    for (size_t i = 0; i < frames.size(); ++i)
        for (size_t j = i + 1; j < frames.size(); ++j)
            EXPECT_FALSE(frames[i].intersects(frames[j])) << "frames " << i << " and " << j;
    // The status line runs along the whole bottom edge.
    const QRect status = placeOf(find("FastHelp"));
    EXPECT_EQ(status.width(), client.width());
    EXPECT_EQ(status.bottom(), client.bottom());
}

TEST_F(MainWindowTest, CaptionsAndFields)
{
    for (const BoxDesign& box : BoxDesigns)
        EXPECT_EQ(check(box.index)->text(), box.caption);
    EXPECT_EQ(command("InfoAbout")->text(), "Info About...");
    EXPECT_EQ(command("DefaultSettings")->text(), "Default Settings");
    EXPECT_EQ(command("ExitVRNL")->text(), "Exit");
    EXPECT_FALSE(command("InfoAbout")->icon().isNull());
    EXPECT_FALSE(command("ExitVRNL")->icon().isNull());
    EXPECT_TRUE(command("DefaultSettings")->icon().isNull());

    const char* const labels[] = {"Boot Delay (0-99)", "Boot Menu Delay (1-30)", "Boot Menu Item (1-9)"};
    const int lengths[] = {2, 2, 1};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(find<SSPanel>(QStringLiteral("SSPanel6(%1)").arg(i))->caption(), labels[i]);
        EXPECT_EQ(text(i)->typedLength(), lengths[i]);
        EXPECT_LT(spin(i)->upArrow()->y(), spin(i)->downArrow()->y());
    }
    EXPECT_EQ(find<StatusBar>("FastHelp")->simpleText(), "");
}

TEST_F(MainWindowTest, CompressedDriveCaptionsRed)
{
    const QColor red(255, 0, 0);
    const QColor usual = window->palette().color(QPalette::WindowText);
    ASSERT_NE(usual, red);
    for (int i = 1; i <= 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(check(i)->palette().color(check(i)->foregroundRole()), i == 9 || i == 10 ? red : usual);
    }
}

// Tab goes through the boxes, the command buttons and the fields, and round again.
TEST_F(MainWindowTest, TabOrder)
{
    QStringList expected;
    for (int i = 1; i <= 12; ++i)
        expected.append(QStringLiteral("Check(%1)").arg(i));
    expected << "InfoAbout" << "DefaultSettings" << "ExitVRNL" << "Text(0)" << "Text(1)" << "Text(2)";

    QStringList order;
    QWidget* at = check(1);
    do {
        if ((at->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && at->isEnabled() && at->isVisibleTo(window))
            order.append(at->objectName());
        at = at->nextInFocusChain();
    } while (at != check(1) && order.size() < 100);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(window->focusWidget(), check(1));
}

// Enter means "Info About..." unless a command button has the focus; Esc means "Exit".
TEST_F(MainWindowTest, EnterOpensInformationEscAsksToSave)
{
    struct Case {
        const char* name;
        QWidget* focus;
        int key;
        bool information;
        const char* question;
    };
    const Case cases[] = {
        {"Enter on a box", check(3), Qt::Key_Return, true, nullptr},
        {"keypad Enter on a box", check(12), Qt::Key_Enter, true, nullptr},
        {"Enter in a field", text(1), Qt::Key_Return, true, nullptr},
        {"Enter on InfoAbout", command("InfoAbout"), Qt::Key_Return, true, nullptr},
        {"Enter on Default Settings", command("DefaultSettings"), Qt::Key_Return, false,
         "Do you really want to restore the default Windows 95 configuration?"},
        {"Esc on a box", check(3), Qt::Key_Escape, false, "Write configuration on disk?"},
        {"Esc in a field", text(0), Qt::Key_Escape, false, "Write configuration on disk?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        bool information = false;
        WhenModal([&](QWidget* modal) {
            if (qobject_cast<Information*>(modal)) {
                information = true;
                modal->findChild<QPushButton*>("ExitInfo")->click();
            }
        });
        c.focus->setFocus();
        QTest::keyClick(c.focus, Qt::Key(c.key));
        QCoreApplication::processEvents();  // lets the watcher above run when nothing opened
        EXPECT_EQ(information, c.information);
        if (c.question) {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].text, c.question);
        } else {
            EXPECT_TRUE(boxes.shown.empty());
        }
        // The default answers (Cancel, No) keep the window and its values; leaving from
        // Text(0) has brought the file's 150 into range first.
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(text(0)->text(), c.focus == text(0) ? "99" : "150");
    }
}

// The length limit binds the user's typing only, also in a longer text the program wrote:
// no character is added there, deleting works, and below the limit typing goes up to it.
TEST_F(MainWindowTest, FieldLengthBindsTypingOnly)
{
    EXPECT_EQ(text(0)->text(), "150");
    const std::tuple<int, const char*, const char*, const char*> edits[] = {
        {0, "", "123", "12"},    {1, "", "123", "12"},       {2, "", "123", "1"},
        {0, "150", "998", "150"}, {0, "150", "\b", "15"},     {0, "150", "\b\b98", "19"},
        {0, "32767", "\b", "3276"}, {2, "12", "3", "12"},
    };
    for (const auto& [row, written, keys, after] : edits) {
        SCOPED_TRACE(testing::Message() << "row " << row << ", " << written << " + " << keys);
        text(row)->setText(written);
        text(row)->end(false);
        QTest::keyClicks(text(row), keys);
        EXPECT_EQ(text(row)->text(), after);
    }
}

}  // namespace

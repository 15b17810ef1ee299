// The information window, opened modally by "Info About..." and closed by "Back...",
// Enter, Esc or its close button.

#include <QTest>

#include "app/information.h"
#include "platform/qt/twips.h"
#include "windowfixture.h"

namespace {

QPushButton* Back(Information* information)
{
    return information->findChild<QPushButton*>("ExitInfo");
}

struct Opening {
    bool opened = false;
    const Information* window = nullptr;
    QPoint corner;
    QPoint centred;
    QSize size;
    bool fixedSize = false;
    QString title;
    QString version;
    bool exitInfoHasFocus = false;
};

class InformationTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(openOptions("BootMenu=1\r\nBootDelay=7\r\n")); }

    // Clicks InfoAbout, looks at the window that opens and closes it with close.
    Opening openAndClose(const std::function<void(Information*)>& close)
    {
        Opening seen;
        QPointer<Information> information;
        WhenModal([&](QWidget* modal) {
            information = qobject_cast<Information*>(modal);
            ASSERT_TRUE(information);
            seen.opened = true;
            seen.window = information;
            seen.corner = information->pos();
            seen.centred = CentredCorner(information->frameGeometry().size());
            seen.size = information->size();
            seen.fixedSize = information->minimumSize() == information->maximumSize();
            seen.title = information->windowTitle();
            seen.version = information->findChild<SSPanel*>("SSPanel5")->caption();
            seen.exitInfoHasFocus = information->focusWidget() == information->findChild<QWidget*>("ExitInfo");
            close(information);
        });
        click("InfoAbout");
        EXPECT_TRUE(seen.opened);
        EXPECT_TRUE(information.isNull()) << "the window is made afresh for each opening";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        return seen;
    }
};

TEST_F(InformationTest, OpensCentredWithTheVersionTwice)
{
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        const Opening seen = openAndClose([](Information* information) { Back(information)->click(); });
        EXPECT_EQ(seen.corner, seen.centred);
        EXPECT_EQ(seen.size, QSize(Pixels(4230), Pixels(2895)));
        EXPECT_TRUE(seen.fixedSize);
        EXPECT_EQ(seen.title, "Varnello Info");
        EXPECT_EQ(seen.version, "Version 1.1");
        EXPECT_TRUE(seen.exitInfoHasFocus);
    }
    EXPECT_TRUE(boxes.shown.empty());
    // The window takes input again, and its values are as they were.
    toggle(3);
    BootOptions expected = Windows95Defaults;
    expected.BootMenu = true;
    expected.BootDelay = 7;
    expected.BootKeys = false;
    EXPECT_EQ(saved(), expected);
}

TEST_F(InformationTest, EnterEscAndCloseButtonCloseItLikeBack)
{
    const std::pair<const char*, std::function<void(Information*)>> ways[] = {
        {"Back...", [](Information* information) { QTest::mouseClick(Back(information), Qt::LeftButton); }},
        {"Enter", [](Information* information) { QTest::keyClick(information, Qt::Key_Return); }},
        {"Enter on the button", [](Information* information) { QTest::keyClick(Back(information), Qt::Key_Enter); }},
        {"Esc", [](Information* information) { QTest::keyClick(information, Qt::Key_Escape); }},
        {"close button", [](Information* information) { information->close(); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        openAndClose(close);
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace

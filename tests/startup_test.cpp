#include <QLocale>
#include <QLockFile>
#include <QProcess>
#include <sys/stat.h>

#include "app/starting.h"
#include "platform/qt/version.h"
#include "safetykit.h"
#include "scopedenv.h"
#include "windowfixture.h"

namespace {

constexpr uint32_t Windows95 = 0xC3B60004;
constexpr uint32_t Windows98 = 0xC0000A04;
constexpr uint32_t WindowsNT4 = 0x05650004;

std::vector<Starting*> SplashWindows()
{
    std::vector<Starting*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* splash = qobject_cast<Starting*>(widget))
            found.push_back(splash);
    return found;
}

class StartupTest : public WindowTest {
protected:
    void TearDown() override { SetReportedVersion(Windows95); }
};

}  // namespace

TEST(BootPathFromArgument, OnlyASingleLetterSelectsADrive)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "C:\\"},   {"d", "d:\\"},  {"D", "D:\\"},  {"a", "a:\\"},   {"Z", "Z:\\"},
        {"D:", "C:\\"}, {"D:\\", "C:\\"}, {"DD", "C:\\"}, {"5", "C:\\"}, {" ", "C:\\"},
        {"\\", "C:\\"}, {".", "C:\\"},  {"\u00e9", "C:\\"}, {"d e", "C:\\"},
        {"\u00df", "C:\\"}, {"\u0131", "C:\\"}, {"\u017f", "C:\\"},  // no letters of ASCII's
    };
    for (const auto& [argument, expected] : cases)
        EXPECT_EQ(BootPathFromArgument(QString::fromUtf8(argument)), QString::fromLatin1(expected)) << argument;
}

TEST(WindowsVersion, OnlyFourPointZeroPasses)
{
    QLocale::setDefault(QLocale::c());
    const std::tuple<uint32_t, const char*, bool> cases[] = {
        {Windows95, "4.00", true},
        {WindowsNT4, "4.00", true},  // the NT bit is not looked at
        {Windows98, "4.10", false},
        {0x00000003, "3.00", false},
        {0x00005A04, "4.90", false},
        {0x00000005, "5.00", false},
    };
    for (const auto& [version, text, passes] : cases) {
        SetReportedVersion(version);
        EXPECT_EQ(WindowsVersion(), QString::fromLatin1(text));
        EXPECT_EQ(IsWindows95(WindowsVersion()), passes) << text;
    }
    SetReportedVersion(Windows95);
}

TEST(WindowsVersion, FollowsTheLocaleBothWays)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    SetReportedVersion(Windows98);
    EXPECT_EQ(WindowsVersion(), QStringLiteral("4,10"));
    EXPECT_FALSE(IsWindows95(WindowsVersion()));
    SetReportedVersion(Windows95);
    EXPECT_EQ(WindowsVersion(), QStringLiteral("4,00"));
    EXPECT_TRUE(IsWindows95(WindowsVersion()));
    QLocale::setDefault(QLocale::c());
}

TEST_F(StartupTest, RefusesOtherWindowsVersionsBeforeLookingAtTheDrive)
{
    SetReportedVersion(Windows98);
    boxes.onShow = [](const MessageBoxRequest&) { EXPECT_TRUE(SplashWindows().empty()); };
    EXPECT_EQ(open("[Options]\r\n"), nullptr);

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("This application require Microsoft Windows 95"));
    EXPECT_EQ(boxes.shown[0].title, QStringLiteral("Varnello"));
    EXPECT_EQ(boxes.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
}

TEST_F(StartupTest, RefusesADriveWithoutMsdosSys)
{
    TempDrive other('D');
    other.write("MSDOS.SYS", "[Options]\r\n");  // found whatever its case
    mkdir(drive.hostPath("msdos.sys").c_str(), 0755);  // a directory is not the file
    // A disk image that cannot be used says why.
    drive.write("disk.img", "");
    ScopedEnv image("VARNELLO_DRIVE_V", drive.hostPath("disk.img"));
    ScopedEnv partition("VARNELLO_PARTITION_V", "9");

    const std::pair<const char*, const char*> cases[] = {
        {"", "'C:\\' isn't the boot drive!!!"},
        {"q", "'q:\\' isn't the boot drive!!!"},  // unmapped: not ready
        {"D:", "'C:\\' isn't the boot drive!!!"},
        {"v", "'v:\\' isn't the boot drive!!!\r\nNo usable FAT file system was found in the disk image: "
              "VARNELLO_PARTITION_V must be a partition number from 1 to 4."},
    };
    for (const auto& [argument, text] : cases) {
        boxes.shown.clear();
        boxes.onShow = [](const MessageBoxRequest&) { EXPECT_TRUE(SplashWindows().empty()); };
        EXPECT_EQ(Startup(QString::fromLatin1(argument)), nullptr);
        ASSERT_EQ(boxes.shown.size(), 1u) << argument;
        EXPECT_EQ(boxes.shown[0].text, QString::fromLatin1(text));
        EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(boxes.shown[0].buttons, MessageButtons::Ok);
    }
}

TEST_F(StartupTest, OpensTheMainWindowAndThenDropsTheSplash)
{
    TempDrive driveE('E');
    driveE.write("msdos.sys", "[Options]\r\nBootMulti=1\r\n");  // no earlier MS-DOS: the load warns
    boxes.onShow = [](const MessageBoxRequest&) {
        // The load runs under the splash window, which stays topmost and unfocused.
        const auto splashes = SplashWindows();
        ASSERT_EQ(splashes.size(), 1u);
        EXPECT_TRUE(splashes[0]->isVisible());
        EXPECT_TRUE(splashes[0]->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_TRUE(splashes[0]->testAttribute(Qt::WA_ShowWithoutActivating));
    };

    window = Startup(QStringLiteral("e"));  // C has no msdos.sys
    ASSERT_TRUE(window);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(SplashWindows().empty());
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible() && (widget->windowFlags() & Qt::WindowStaysOnTopHint));
}

TEST_F(StartupTest, SecondCopyEndsSilently)
{
    ASSERT_FALSE(AnotherInstanceRunning());  // this process holds the lock

    drive.write("msdos.sys", "[Options]\r\n");
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(VARNELLO_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_FALSE(AnotherInstanceRunning());  // ours is still held, undisturbed
}

// Another user may write the shared temporary directory, and may hand Varnello a runtime
// directory that is not private; nothing planted there stops Varnello from starting.
TEST(InstanceLock, NothingAnotherUserPlantsIsObeyed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    QTemporaryDir scratch;
    const std::string tmp = scratch.path().toStdString();  // stands in for /tmp
    ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
    ScopedEnv tmpdir("TMPDIR", tmp);
    for (const char* dir : {"/open", "/mine", "/mine/varnello.lock"})
        mkdir((tmp + dir).c_str(), 0700);
    chmod((tmp + "/open").c_str(), 01777);  // a runtime directory anyone may write
    const struct {
        const char* runtime;                   // XDG_RUNTIME_DIR, or unset
        std::vector<const char*> directories;  // made by the other user
        const char* lock;                      // a live lock the other user holds there
        const char* link;                      // the private directory's name as a link there
    } cases[] = {
        {nullptr, {"/runtime-root"}, "/varnello.lock", nullptr},  // Qt's own fallback taken
        {"/theirs", {"/theirs"}, "/varnello.lock", nullptr},
        {"/open", {}, "/open/varnello.lock", nullptr},
        {nullptr, {"/varnello-0", "/varnello-0/varnello.lock"}, nullptr, nullptr},
        {nullptr, {}, nullptr, "/theirs"},
        {"/mine", {}, nullptr, nullptr},  // root put a directory where our lock goes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(&c - cases));
        for (const char* left : {"/varnello-0", "/varnello.lock", "/runtime-root"})
            std::filesystem::remove_all(tmp + left);
        std::optional<QLockFile> planted;
        {
            AsUser nobody(NobodyId);
            ASSERT_TRUE(nobody.active());
            for (const char* dir : c.directories)
                mkdir((tmp + dir).c_str(), 0700);
            if (c.link) {
                ASSERT_EQ(symlink((tmp + c.link).c_str(), (tmp + "/varnello-0").c_str()), 0);
            }
            if (c.lock) {
                ASSERT_TRUE(planted.emplace(QString::fromStdString(tmp + c.lock)).tryLock(0));
            }
        }
        ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime ? std::optional(tmp + c.runtime) : std::nullopt);
        EXPECT_EQ(RunInChild([] { return !AnotherInstanceRunning(); }), ChildResult::Passed);
    }
}

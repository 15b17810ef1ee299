#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <utility>

#include "launcher/launch.h"
#include "launcher/recentdrives.h"
#include "scopedenv.h"

TEST(ChooseLaunch, PathGivenMappingPresentOrNone)
{
    QTemporaryDir scratch;
    const std::string root = scratch.path().toStdString();
    const std::string booted = root + "/booted", folder = root + "/folder", empty = root + "/empty",
                      image = root + "/win95.img", notFat = root + "/blank.img";
    std::filesystem::create_directories(root + "/wine/dosdevices");
    for (const std::string& made : {booted, folder, empty})
        std::filesystem::create_directory(made);
    std::filesystem::create_directory_symlink(booted, root + "/wine/dosdevices/c:");
    std::ofstream(booted + "/msdos.sys") << "[Options]\r\n";
    std::ofstream(folder + "/MSDOS.SYS") << "[Options]\r\n";
    std::ofstream(notFat) << "";
    ASSERT_EQ(std::system(("mkfs.fat -C " + image + " 1440 >/dev/null && mcopy -i " + image + " " + booted
                           + "/msdos.sys ::/MSDOS.SYS")
                              .c_str()),
              0);
    ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(root);
    ScopedEnv home("HOME", root);

    struct Case {
        std::vector<std::string> arguments;
        std::optional<std::string> driveC;  // VARNELLO_DRIVE_C, unset when nullopt
        std::string winePrefix;
        LaunchAction action;
        std::string drive;
    };
    const Case cases[] = {
        {{}, booted, root, LaunchAction::Start, ""},         // mapped and holding msdos.sys
        {{}, std::nullopt, root + "/wine", LaunchAction::Start, ""},  // the Wine prefix's drive C
        {{}, empty, root + "/wine", LaunchAction::AskForDrive, ""},  // mapped, but no msdos.sys
        {{}, std::nullopt, root, LaunchAction::AskForDrive, ""},      // nothing at all
        {{folder}, booted, root, LaunchAction::Start, folder},        // a path wins over the mapping
        {{"folder"}, std::nullopt, root, LaunchAction::Start, folder},
        {{image}, std::nullopt, root, LaunchAction::Start, image},
        {{folder + "/MSDOS.SYS"}, std::nullopt, root, LaunchAction::Start, folder},  // its folder is meant
        {{empty}, booted, root, LaunchAction::Refuse, ""},  // no msdos.sys
        {{notFat}, std::nullopt, root, LaunchAction::Refuse, ""},
        {{""}, std::nullopt, root, LaunchAction::Refuse, ""},
        {{root + "/missing"}, booted, root, LaunchAction::Refuse, ""},
        {{root + "/fifo"}, std::nullopt, root, LaunchAction::Refuse, ""},
        {{"/dev/null"}, std::nullopt, root, LaunchAction::Refuse, ""},
        {{"-h"}, booted, root, LaunchAction::Refuse, ""},
        {{"--platform"}, std::nullopt, root, LaunchAction::Refuse, ""},
        {{folder, image}, std::nullopt, root, LaunchAction::Refuse, ""},
    };
    for (const Case& c : cases) {
        const std::string shown = c.arguments.empty() ? "(none)" : c.arguments.front();
        ScopedEnv driveC("VARNELLO_DRIVE_C", c.driveC);
        ScopedEnv wine("WINEPREFIX", c.winePrefix);
        const LaunchChoice choice = ChooseLaunch(c.arguments);
        EXPECT_EQ(choice.action, c.action) << shown;
        EXPECT_EQ(choice.drive, c.drive) << shown;
        EXPECT_EQ(choice.problem.isEmpty(), c.action != LaunchAction::Refuse) << shown;
    }
    // Each refusal names what was given and what it lacks.
    const std::pair<std::string, const char*> named[] = {
        {root + "/missing", "does not exist"},
        {empty, "holds no msdos.sys"},
        {notFat, "No usable FAT file system"},
    };
    for (const auto& [path, lack] : named) {
        const QString problem = ChooseLaunch({path}).problem;
        EXPECT_TRUE(problem.contains(QString::fromStdString(path)) && problem.contains(QLatin1String(lack))
                    && !problem.contains(QLatin1String("..")))
            << problem.toStdString();
    }
    std::filesystem::current_path(before);
}

TEST(RecentDrives, MostRecentFirstWithoutRepeatsOrVanishedDrives)
{
    QTemporaryDir config, drives;
    ScopedEnv settings("XDG_CONFIG_HOME", config.path().toStdString());
    QStringList made;
    for (int i = 0; i < 7; ++i) {
        made.append(drives.filePath(QString::number(i)));
        QDir().mkdir(made.last());
    }
    RememberDrive(made[0]);
    RememberDrive(made[1]);
    RememberDrive(made[0]);
    EXPECT_EQ(RecentDrives(), QStringList({made[0], made[1]}));

    QDir(made[1]).removeRecursively();
    EXPECT_EQ(RecentDrives(), QStringList({made[0]}));

    for (int i = 2; i < 7; ++i)
        RememberDrive(made[i]);
    EXPECT_EQ(RecentDrives(), QStringList({made[6], made[5], made[4], made[3], made[2]}));
}

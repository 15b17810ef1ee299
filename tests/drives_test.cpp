#include "dosattributes.h"
#include "platform/sys/fileerror.h"
#include "scopedenv.h"
#include "tempdrive.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(HostPath, DriveVariableMapsEitherCaseOfTheLetter)
{
    TempDrive drive('C');
    EXPECT_EQ(HostPath("C:\\msdos.sys"), drive.hostPath("msdos.sys"));
    EXPECT_EQ(HostPath("c:\\msdos.sys"), drive.hostPath("msdos.sys"));
    EXPECT_EQ(HostPath("C:\\"), drive.dir());
}

TEST(HostPath, NamesMatchWithoutRegardToCaseAndPreferTheExactSpelling)
{
    TempDrive drive('C');
    drive.write("MSDOS.SYS", "x");
    EXPECT_EQ(HostPath("C:\\msdos.sys"), drive.hostPath("MSDOS.SYS"));
    EXPECT_EQ(HostPath("C:\\MsDos.Sys"), drive.hostPath("MSDOS.SYS"));
    EXPECT_EQ(HostPath("C:\\new.txt"), drive.hostPath("new.txt"));  // keeps its spelling

    drive.write("msdos.sys", "y");
    EXPECT_EQ(HostPath("C:\\msdos.sys"), drive.hostPath("msdos.sys"));
    EXPECT_EQ(HostPath("C:\\MSDOS.SYS"), drive.hostPath("MSDOS.SYS"));
}

TEST(HostPath, OnlyAPlainNameInTheDriveRootIsAccepted)
{
    TempDrive drive('C');
    fs::create_directory(drive.hostPath("sub"));
    drive.write("sub/x", "x");
    const std::string_view rejected[] = {
        "",           "C",           "C:",          "C:x",          "C:/x",        "C:\\sub\\x", "C:\\sub/x",
        "C:\\..",     "C:\\.",       "C:\\..\\etc",  "1:\\x",        "\\\\h\\x",     "CC:\\x",      "C:\\x/..",
        "C:\\../x",   "C:\\msdos.sys/", "C:\\msdos.sys\\", std::string_view("C:\\a\0b", 6),
        std::string_view("C:\\x\0/../y", 10),
    };
    for (std::string_view path : rejected) {
        ClearLastFileError();
        EXPECT_EQ(HostPath(path), std::nullopt) << path;
        EXPECT_EQ(LastFileError().step, FileStep::ResolvePath) << path;
        EXPECT_EQ(LastFileError().code, EINVAL) << path;
    }
    for (std::string_view name : {" ..", "...", "x..", "~", "$HOME", "msdos.sys"})
        EXPECT_EQ(HostPath("C:\\" + std::string(name)), drive.hostPath(std::string(name))) << name;
}

TEST(HostPath, UnmappedMissingOrNonDirectoryDrivesAreNotReady)
{
    TempDrive wine('W');  // an empty Wine prefix: no dosdevices at all
    ScopedEnv prefix("WINEPREFIX", wine.dir());
    ScopedEnv unmapped("VARNELLO_DRIVE_Q", std::nullopt);
    EXPECT_EQ(HostPath("Q:\\msdos.sys"), std::nullopt);
    EXPECT_EQ(LastFileError().code, ENODEV);

    ScopedEnv missing("VARNELLO_DRIVE_R", wine.hostPath("gone"));
    EXPECT_EQ(HostPath("R:\\msdos.sys"), std::nullopt);
    EXPECT_EQ(LastFileError().code, ENODEV);

    wine.write("plain", "x");
    ScopedEnv file("VARNELLO_DRIVE_S", wine.hostPath("plain"));
    EXPECT_EQ(HostPath("S:\\msdos.sys"), std::nullopt);
    EXPECT_EQ(LastFileError().code, ENOTDIR);
}

TEST(HostPath, FallsBackToWineDosDevices)
{
    TempDrive prefix('W');
    fs::create_directories(prefix.hostPath("drive_c"));
    fs::create_directories(prefix.hostPath("dosdevices"));
    fs::create_directory_symlink("../drive_c", prefix.hostPath("dosdevices/c:"));
    prefix.write("drive_c/MSDOS.SYS", "x");

    ScopedEnv unmapped("VARNELLO_DRIVE_C", std::nullopt);
    ScopedEnv wine("WINEPREFIX", prefix.dir());
    EXPECT_EQ(HostPath("c:\\msdos.sys"), prefix.hostPath("dosdevices/c:/MSDOS.SYS"));
    EXPECT_EQ(HostPath("D:\\msdos.sys"), std::nullopt);

    ScopedEnv empty("VARNELLO_DRIVE_C", "");  // set but empty: no drive, not the prefix's
    EXPECT_EQ(HostPath("c:\\msdos.sys"), std::nullopt);
    EXPECT_EQ(LastFileError().code, ENODEV);
}

TEST(HostPath, WithoutWinePrefixUsesDotWineInHome)
{
    TempDrive home('W');
    fs::create_directories(home.hostPath(".wine/dosdevices/d:"));
    ScopedEnv mapped("VARNELLO_DRIVE_D", std::nullopt);
    ScopedEnv wine("WINEPREFIX", std::nullopt);
    ScopedEnv homeVariable("HOME", home.dir());
    EXPECT_EQ(HostPath("D:\\io.sys"), home.hostPath(".wine/dosdevices/d:/io.sys"));
}

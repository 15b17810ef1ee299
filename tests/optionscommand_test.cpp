// varnello-options as a script runs it: the built command, with no display, on a folder
// and on floppy images, checked through the file's bytes and attributes alone.

#include "dosattributes.h"
#include "platform/files/files.h"
#include "safetykit.h"
#include "tempdrive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

const std::string Before = "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootMulti=1\r\nBootWin=0\r\n"
                           "BootDelay=-5\r\nDRVSpace=1\r\n;padding\r\n";

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the command with arguments, without a display, through prefix (another user).
Outcome RunCommand(const TempDrive& scratch, const std::vector<std::string>& arguments, const std::string& prefix = {})
{
    std::string line = "env -u DISPLAY -u WAYLAND_DISPLAY " + prefix + " " VARNELLO_OPTIONS_BINARY;
    for (const std::string& argument : arguments)
        line += " '" + argument + "'";
    const int raw = std::system((line + " >" + scratch.hostPath("out") + " 2>" + scratch.hostPath("err")).c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, scratch.read("out"), scratch.read("err")};
}

std::string Floppy(const TempDrive& scratch, const std::string& name)
{
    const std::string image = scratch.hostPath(name);
    scratch.write("msdos.in", Before);
    EXPECT_EQ(std::system(("mkfs.fat -C " + image + " 1440 >/dev/null && mcopy -i " + image + " "
                           + scratch.hostPath("msdos.in") + " ::/MSDOS.SYS && mattrib -i " + image
                           + " +r +h +s ::/MSDOS.SYS")
                              .c_str()),
              0);
    return image;
}

std::string Tool(const std::string& line)
{
    std::string text;
    if (FILE* pipe = popen(line.c_str(), "r")) {
        for (int c; (c = std::fgetc(pipe)) != EOF;)
            text += char(c);
        pclose(pipe);
    }
    return text;
}

// Good and refused settings on a folder: what is printed, the status, and the file after.
TEST(OptionsCommand, SettingsAreCheckedAndWrittenTogetherOrNotAtAll)
{
    const std::string refusedDelay = "BootDelay=100 is refused: BootDelay takes a whole number from 0 to 99.";
    const struct {
        bool earlierDos;
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;    // the start of standard error
        std::string after;  // "" when the file must stay as it was
    } cases[] = {
        {false, {}, 0, "BootMenu=0\nBootMulti=0\nBootKeys=1\nBootGUI=1\nBootWin=1\nBootWarn=1\nLogo=1\nLoadTop=1\n"
                       "BootDelay=5\nBootMenuDefault=1\nBootMenuDelay=30\nDBLSpace=1\nDRVSpace=1\nNetwork=0\nDoubleBuffer=0\n",
         "", ""},
        {true, {"bootdelay", "BOOTWIN"}, 0, "5\n0\n", "", ""},
        {true, {"bootgui=0", "BootDelay=07", "network=1", "BootGUI"}, 0, "0\n", "",
         "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootMulti=1\r\nBootWin=0\r\nBootDelay=7\r\nDRVSpace=1\r\n"
         "BootGUI=0\r\nNetwork=1\r\n;padding\r\n"},
        {true, {"Logo=0", "BootDelay=100"}, 2, "", refusedDelay, ""},
        {true, {"BootMenuDelay=0"}, 2, "", "BootMenuDelay=0 is refused: BootMenuDelay takes a whole number from 1 to 30.", ""},
        {true, {"BootMenuDefault=+1"}, 2, "", "BootMenuDefault=+1 is refused: BootMenuDefault takes a whole number from 1", ""},
        {true, {"Logo="}, 2, "", "Logo= is refused: Logo takes 0 (off) or 1 (on).", ""},
        {true, {"Logos=1"}, 2, "", "'Logos' is not a key of the section [Options]; the keys are BootMenu, BootMulti,", ""},
        {false, {"BootMulti=1"}, 2, "", "BootMulti=1 needs MS-DOS Version 5 or 6.x beside Windows 95", ""},
        {true, {"BootMulti=0", "BootWin=0"}, 2, "", "BootWin=0 needs BootMulti=1", ""},
        {true, {"DBLSpace=0"}, 2, "", "DBLSpace=0 turns a compressed-drive driver off.\nIf you deselect this option, you "
                                      "must manually install compressed drives.\n\nDo you want to continue?\nNothing was "
                                      "written; give --force to write it all the same.\n", ""},
        {true, {"DRVSpace=0", "--force", "BootMulti=0"}, 0, "", "",
         "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootMulti=0\r\nBootWin=1\r\nBootDelay=-5\r\nDRVSpace=0\r\n;padding\r\n"},
        {false, {"--defaults", "BootMenu=1"}, 0, "", "",
         "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootMulti=0\r\nBootWin=1\r\nBootDelay=2\r\nDRVSpace=1\r\n"
         "BootMenu=1\r\nBootKeys=1\r\nBootGUI=1\r\nLoadTop=1\r\nLogo=1\r\nBootWarn=1\r\nBootMenuDefault=1\r\n"
         "BootMenuDelay=30\r\nDBLSpace=1\r\nNetwork=0\r\nDoubleBuffer=0\r\n;padding\r\n"},
        {true, {"--partition", "0"}, 2, "", "--partition takes a number from 1 to 4.", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        TempDrive drive;
        drive.write("msdos.sys", Before);
        for (const char* name : {"io.dos", "msdos.dos", c.earlierDos ? "command.dos" : "io.sys"})
            drive.write(name, "");
        std::vector<std::string> arguments = {drive.dir()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const Outcome outcome = RunCommand(drive, arguments);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_TRUE(c.err.empty() ? outcome.err.empty() : outcome.err.starts_with("varnello-options: " + c.err))
            << outcome.err;
        EXPECT_EQ(drive.read("msdos.sys"), c.after.empty() ? Before : c.after);
        EXPECT_EQ(AttributesOf("C:\\msdos.sys"), c.after.empty() ? 0u : 7u);
    }
}

// An ordinary user sets two keys in the floppy image they own: only those bytes change,
// the file stays read-only, hidden and system, and no copy is left behind.
TEST(OptionsCommand, AnOrdinaryUserSetsKeysInTheirOwnImage)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    TempDrive scratch('I');
    ASSERT_EQ(chmod(scratch.dir().c_str(), 0755), 0);
    const std::string image = Floppy(scratch, "win95.img");
    ASSERT_EQ(chown(image.c_str(), NobodyId, NobodyId), 0);
    const std::string nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";

    const Outcome outcome = RunCommand(scratch, {image, "BootGUI=0", "bootdelay=0", "BootDelay"}, nobody);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "0\n");
    EXPECT_EQ(Tool("mtype -i " + image + " ::/MSDOS.SYS"),
              "[Paths]\r\nWinDir=C:\\WINDOWS\r\n\r\n[Options]\r\nBootMulti=1\r\nBootWin=0\r\nBootDelay=0\r\n"
              "DRVSpace=1\r\nBootGUI=0\r\n;padding\r\n");
    EXPECT_EQ(Tool("mattrib -i " + image + " '::/*'"), "     SHR     ::/MSDOS.SYS\n");  // and no copy
}

// A running emulator's lock on the image: the write is refused, saying so, and the image
// keeps every byte.
TEST(OptionsCommand, AnImageAnEmulatorHoldsIsNotWritten)
{
    TempDrive scratch('I');
    const std::string image = Floppy(scratch, "held.img");
    const std::string before = scratch.read("held.img");
    const int emulator = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    struct flock forbidWriting {};
    forbidWriting.l_type = F_RDLCK;
    forbidWriting.l_start = 201;  // QEMU's: nobody else may write
    forbidWriting.l_len = 1;
    ASSERT_EQ(fcntl(emulator, F_OFD_SETLK, &forbidWriting), 0);

    const Outcome outcome = RunCommand(scratch, {image, "Logo=0"});
    close(emulator);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.err.starts_with("varnello-options: The configuration was not written to msdos.sys in '"
                                        + image + "', and nothing was changed.\n"))
        << outcome.err;
    EXPECT_TRUE(scratch.read("held.img") == before);
}

}  // namespace

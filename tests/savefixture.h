#pragma once

#include <QPointer>
#include <gtest/gtest.h>
#include <string>

#include "app/startup.h"
#include "editor/vrnl.h"
#include "messageboxes.h"
#include "options/saving.h"
#include "platform/file/atomicfile.h"
#include "platform/file/files.h"
#include "tempdrive.h"

inline const char* const MsdosSys = "C:\\msdos.sys";

inline const std::string Paths =
    "[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n\r\n";

// A boot drive C with an earlier MS-DOS, a stand-in user at the message boxes, and a
// main window opened on whatever msdos.sys a test writes. Injected faults end with the test.
class SaveFixture : public testing::Test {
protected:
    void SetUp() override
    {
        BootPath = QString::fromStdString(drive.dosPath());
        for (const char* name : {"io.dos", "msdos.dos", "command.dos"})
            drive.write(name, "");
    }
    void TearDown() override
    {
        FailAtomicStepForTesting(FileStep::None);
        FailAttributeChangeForTesting(0);
        BeforeReplaceForTesting({});
        delete window.data();
    }

    // Writes msdos.sys with these bytes and attributes and opens a fresh main window on it.
    void Open(const std::string& bytes, uint32_t attributes = BootFileAttributes)
    {
        if (FileExists(MsdosSys))
            SetFileAttributesA(MsdosSys, 0);
        drive.write("msdos.sys", bytes);
        ASSERT_TRUE(SetFileAttributesA(MsdosSys, attributes));
        delete window.data();
        window = new VRNL;
        window->Load();
        window->show();
        boxes.shown.clear();
    }

    std::string File() const { return drive.read("msdos.sys"); }

    TempDrive drive;
    MessageBoxes boxes;
    QPointer<VRNL> window;
};

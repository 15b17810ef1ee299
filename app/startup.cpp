#include "app/startup.h"

#include <QLocale>
#include <memory>

#include "app/information.h"
#include "app/starting.h"
#include "editor/vrnl.h"
#include "platform/files/files.h"
#include "platform/qt/instancelock.h"
#include "platform/qt/messagebox.h"
#include "platform/qt/ui.h"
#include "platform/qt/version.h"

QString BootPathFromArgument(const QString& argument)
{
    if (argument.size() == 1) {
        // ASCII only: Unicode case mapping would make letters of ß, ı or ſ.
        const char16_t letter = argument.at(0).unicode();
        if ((letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z'))
            return argument + QStringLiteral(":\\");
    }
    return QStringLiteral("C:\\");
}

QString WindowsVersion()
{
    // Only the low word counts; the bit that tells Windows NT apart is not looked at.
    const uint32_t low = GetVersion() & 0xFFFF;
    const int major = low % 256;
    const int minor = low / 256;
    return QLocale().toString(major + minor / 100.0, 'f', 2);
}

bool IsWindows95(const QString& version)
{
    bool ok = false;
    const double value = QLocale().toDouble(version, &ok);
    return ok && value == 4.0;
}

namespace {

// The message before the program ends, the splash window already gone.
void Refuse(const QString& text)
{
    ShowMessageBox(text);
}

}  // namespace

VRNL* Startup(const QString& argument)
{
    if (AnotherInstanceRunning())
        return nullptr;

    auto splash = std::make_unique<Starting>();
    ProcessEventsUntilPainted(splash.get());

    // A letter and ":\", the same text for the file layer and for the messages.
    const std::string bootPath = BootPathFromArgument(argument).toStdString();

    if (!IsWindows95(WindowsVersion())) {
        splash.reset();
        ProcessPendingEvents();
        Refuse(QStringLiteral("This application require Microsoft Windows 95"));
        return nullptr;
    }

    const std::string bootFile = bootPath + "msdos.sys";
    if (!FileExists(bootFile.c_str())) {
        splash.reset();
        // A disk image that cannot be used says why, such as which tool to install.
        const std::string why = WhyFileNotFound(bootFile.c_str());
        Refuse(QString::fromStdString("'" + bootPath + "' isn't the boot drive!!!"
                                      + (why.empty() ? "" : "\r\n" + why)));
        return nullptr;
    }

    auto* main = new VRNL(bootPath, &Information::Open);
    main->Load();
    ProcessPendingEvents();
    main->show();
    ProcessPendingEvents();
    splash.reset();  // unloaded: no longer topmost, then gone
    ProcessPendingEvents();
    return main;
}

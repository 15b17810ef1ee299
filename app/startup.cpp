#include "app/startup.h"

#include <QLocale>

#include "app/information.h"
#include "app/starting.h"
#include "editor/vrnl.h"
#include "platform/file/files.h"
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

VRNL* Startup(const QString& argument)
{
    if (AnotherInstanceRunning())
        return nullptr;

    auto* splash = new Starting;
    DoEventsUntilPainted(splash);

    // A letter and ":\", the same text for the file layer and for the messages.
    const std::string bootPath = BootPathFromArgument(argument).toStdString();

    if (!IsWindows95(WindowsVersion())) {
        splash->Unload();
        DoEvents();
        MsgBox(QStringLiteral("This application require Microsoft Windows 95"), MsgButtons::Ok,
               MsgIcon::Exclamation, MsgAnswer::Ok, QStringLiteral("Varnello"));
        return nullptr;
    }

    if (!FileExists((bootPath + "msdos.sys").c_str())) {
        splash->Unload();
        MsgBox(QString::fromStdString("'" + bootPath + "' isn't the boot drive!!!"), MsgButtons::Ok,
               MsgIcon::Exclamation, MsgAnswer::Ok, QStringLiteral("Varnello"));
        return nullptr;
    }

    auto* main = new VRNL(bootPath, &Information::Open);
    main->Load();
    DoEvents();
    main->show();
    DoEvents();
    splash->Unload();
    DoEvents();
    return main;
}

#include <QApplication>
#include <QFile>
#include <memory>

#include "launcher/drivechooser.h"
#include "launcher/launch.h"
#include "launcher/recentdrives.h"
#include "platform/qt/application.h"
#include "platform/qt/instancelock.h"
#include "platform/qt/messagebox.h"
#include "platform/qt/ui.h"

namespace {

// Qt is started only when a window is needed: a plain start replaces this process before
// anything connects to the display.
class WindowSystem {
public:
    WindowSystem(int argc, char** argv) : argc_(argc > 0 ? 1 : 0), argv_(argv) {}

    void need()
    {
        if (application_)
            return;
        // Qt gets the program's name only, no options from the user's command line.
        application_ = OpenApplication(argc_, argv_);
    }

    void tell(const QString& problem)
    {
        need();
        ShowMessageBox(problem);
    }

private:
    int argc_;
    char** argv_;
    std::unique_ptr<QApplication> application_;
};

}  // namespace

int main(int argc, char** argv)
{
    WindowSystem windows(argc, argv);
    // Varnello itself would end silently: say so, then show the user the copy that runs.
    if (const qint64 running = RunningInstance()) {
        windows.tell(
            QStringLiteral("Varnello is already running.\r\nOnly one copy runs at a time: go on in its window."));
        BringToFront(running);
        return 1;
    }
    const LaunchChoice choice = ChooseLaunch(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    std::string drive = choice.drive;
    switch (choice.action) {
    case LaunchAction::Refuse:
        windows.tell(choice.problem);
        return 2;
    case LaunchAction::AskForDrive: {
        windows.need();
        DriveChooser chooser(RecentDrives());
        if (chooser.exec() != QDialog::Accepted)
            return 0;
        drive = chooser.chosen();
        break;
    }
    case LaunchAction::Start:
        break;
    }
    if (!drive.empty())
        RememberDrive(QFile::decodeName(QByteArray::fromStdString(drive)));
    windows.tell(StartVarnello(drive));
    return 1;
}

#include <QApplication>
#include <QStringList>

#include "app/startup.h"
#include "platform/ui.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Varnello"));
    UseClassicLook();

    // The argument is everything after the program's name, as one text.
    const QString argument = QApplication::arguments().mid(1).join(QLatin1Char(' '));
    if (!Startup(argument))
        return 0;
    return application.exec();
}

#include <QApplication>
#include <QStringList>

#include "app/startup.h"
#include "platform/qt/application.h"

int main(int argc, char** argv)
{
    // Qt would take options of its own from the arguments (-reverse, -platform ...); the
    // program has none but the drive letter, so Qt is given the program's name only.
    int qtArgc = argc > 0 ? 1 : 0;
    const auto application = OpenApplication(qtArgc, argv);

    // The argument is everything after the program's name, as one text.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromLocal8Bit(argv[i]));
    if (!Startup(words.join(QLatin1Char(' '))))
        return 0;
    return QApplication::exec();
}

#include "app/starting.h"

#include <QIcon>

#include "app/titleblock.h"
#include "platform/qt/twips.h"
#include "platform/qt/ui.h"

Starting::Starting()
{
    setObjectName(QStringLiteral("Starting"));
    // Topmost and shown without taking the focus, both settled before the first show.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                   | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setFixedSize(Pixels(4230), Pixels(1575));
    setWindowIcon(QIcon(QStringLiteral(":/varnello.ico")));
    setCursor(Qt::WaitCursor);
    BuildTitleBlock(this);

    CenterWindow(this);
    show();
}

Starting::~Starting()
{
    SetStaysOnTop(this, false);
}

#include "app/starting.h"

#include <QIcon>

#include "app/titleblock.h"
#include "platform/qt/twips.h"
#include "platform/qt/ui.h"

namespace {

void PlaceInZOrder(QWidget* window, int insertAfter)
{
    const QRect outer = window->frameGeometry();
    SetWindowPos(window, insertAfter, outer.x(), outer.y(), outer.width(), outer.height(),
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

}  // namespace

Starting::Starting()
{
    setObjectName(QStringLiteral("Starting"));
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setFixedSize(Pixels(4230), Pixels(1575));
    setWindowIcon(QIcon(QStringLiteral(":/varnello.ico")));
    setCursor(Qt::WaitCursor);
    BuildTitleBlock(this);

    CenterWindow(this);
    PlaceInZOrder(this, HWND_TOPMOST);
}

void Starting::Unload()
{
    PlaceInZOrder(this, HWND_NOTOPMOST);
    delete this;
}

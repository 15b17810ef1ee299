#include "app/titleblock.h"

#include <QIcon>
#include <QLabel>

#include "platform/qt/controls.h"
#include "platform/qt/twips.h"

namespace {

SSPanel* CaptionPanel(QWidget* window, const QString& caption, const QFont& font, const QColor& text)
{
    auto* panel = new SSPanel(window, caption);
    panel->setFont(font);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::WindowText, text);
    panel->setPalette(palette);
    return panel;
}

}  // namespace

void BuildTitleBlock(QWidget* window)
{
    auto* iconFrame = new SSPanel(window);
    iconFrame->setObjectName(QStringLiteral("SSPanel2"));
    iconFrame->setGeometry(PixelRect(120, 120, 735, 735));
    auto* picture = new QLabel(iconFrame);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setPixmap(QIcon(QStringLiteral(":/varnello.ico")).pixmap(32, 32));
    picture->setGeometry(PixelRect(120, 120, 480, 480));
    picture->setAccessibleName(QStringLiteral("Program icon"));

    auto* title = CaptionPanel(window, QStringLiteral("Varnello"), DesignFont("Arial", 15.75, true, true),
                               QColor(0, 0, 192));
    title->setObjectName(QStringLiteral("SSPanel3"));
    title->setGeometry(PixelRect(960, 120, 3135, 735));

    auto* notice = CaptionPanel(window, QStringLiteral("Windows 95 boot options"),
                                DesignFont("Arial", 14.25, true, true), QColor(128, 0, 128));
    notice->setObjectName(QStringLiteral("SSPanel4"));
    notice->setGeometry(PixelRect(120, 960, 3975, 495));
}

#include "app/information.h"

#include <QIcon>

#include "app/titleblock.h"
#include "platform/qt/application.h"
#include "platform/qt/controls.h"
#include "platform/qt/twips.h"
#include "platform/qt/ui.h"
#include "version.h"

namespace {

SSPanel* TextPanel(QWidget* window, const char* name, const QString& caption, const QFont& font,
                   const QRect& place)
{
    auto* panel = new SSPanel(window, caption);
    panel->setObjectName(QLatin1String(name));
    panel->setFont(font);
    panel->setGeometry(place);
    return panel;
}

}  // namespace

void Information::Open(QWidget* owner)
{
    Information information(owner);
    information.exec();
}

Information::Information(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Information"));
    setWindowTitle(QStringLiteral("Varnello Info"));
    setWindowIcon(QIcon(QStringLiteral(":/varnello.ico")));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(Pixels(4230), Pixels(2895));
    setModal(true);
    RestoreWhenMinimised(this);

    auto* buttonFrame = new SSPanel(this);
    buttonFrame->setObjectName(QStringLiteral("SSPanel1"));
    buttonFrame->setGeometry(PixelRect(1320, 2040, 1695, 735));
    ExitInfo = new SSCommand(this, QStringLiteral("Back..."));
    ExitInfo->setObjectName(QStringLiteral("ExitInfo"));
    ExitInfo->setFont(DesignFont("Arial", 18, true));
    ExitInfo->setGeometry(PixelRect(1320 + 75, 2040 + 75, 1545, 585));
    ExitInfo->setDefault(true);
    ExitInfo->setAutoDefault(true);
    // Esc closes the dialog the same way, through reject().
    connect(ExitInfo, &QPushButton::clicked, this, &QDialog::reject);

    BuildTitleBlock(this);
    SSPanel5 = TextPanel(this, "SSPanel5", QStringLiteral("Version x.xx"), DesignFont("Arial", 9, true),
                         PixelRect(360, 1560, 1815, 375));
    TextPanel(this, "SSPanel6", QStringLiteral("full 32-bit"), DesignFont("Arial", 9, true, true),
              PixelRect(2400, 1560, 1455, 375));
    ExitInfo->raise();
    ExitInfo->setFocus();

    CenterWindow(this);
    SSPanel5->setCaption(QStringLiteral("Version %1.%2").arg(VersionMajor).arg(VersionMinor));
}

#include "launcher/drivechooser.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QListWidget>

#include "launcher/launch.h"
#include "platform/qt/application.h"
#include "platform/qt/controls.h"
#include "platform/qt/messagebox.h"
#include "platform/qt/twips.h"
#include "platform/qt/ui.h"

namespace {

// The layout in twips, as the program's other windows are laid out.
constexpr int Width = 5400;
constexpr int Margin = 120;
constexpr int NoticeHeight = 1095;
constexpr int RecentTop = Margin + NoticeHeight + Margin;
constexpr int RecentLabelHeight = 255;
constexpr int RecentListHeight = 1155;
constexpr int ButtonFrameHeight = 555;
constexpr int ButtonInset = 75;  // a button sits this far inside its frame

const QString ImageFilter = QStringLiteral(
    "Disk images (*.img *.ima *.raw *.bin *.dsk *.vfd *.flp *.qcow2 *.vdi *.vhd *.vhdx *.vmdk);;All files (*)");

// A 3-D command button inside a raised frame, as on the program's windows.
SSCommand* FramedCommand(QWidget* window, const QString& caption, int left, int top, int width)
{
    auto* frame = new SSPanel(window);
    frame->setGeometry(PixelRect(left, top, width, ButtonFrameHeight));
    auto* command = new SSCommand(window, caption);
    command->setGeometry(PixelRect(left + ButtonInset, top + ButtonInset, width - 2 * ButtonInset,
                                   ButtonFrameHeight - 2 * ButtonInset));
    command->setFont(DesignFont("Arial", 9, true));
    return command;
}

}  // namespace

DriveChooser::DriveChooser(const QStringList& recent) : recent_(recent)
{
    setWindowTitle(QStringLiteral("Varnello"));
    setWindowIcon(QIcon(QStringLiteral(":/varnello.ico")));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    RestoreWhenMinimised(this);  // the launcher's only window
    createNotice();
    const int buttonsTop = recent_.isEmpty() ? RecentTop : createRecentList();
    createButtons(buttonsTop);
    setFixedSize(Pixels(Width), Pixels(buttonsTop + ButtonFrameHeight + Margin));

    SSCommand* defaultCommand = OpenRecent ? OpenRecent : PickFolder;
    defaultCommand->setDefault(true);
    defaultCommand->setFocus();

    if (Recent) {
        connect(OpenRecent, &QPushButton::clicked, this, &DriveChooser::openRecent);
        connect(Recent, &QListWidget::itemActivated, this, &DriveChooser::openRecent);
    }
    connect(PickFolder, &QPushButton::clicked, this, &DriveChooser::pickFolder);
    connect(PickImage, &QPushButton::clicked, this, &DriveChooser::pickImage);
    // Esc and the title bar's close button end the dialog the same way.
    connect(CancelChoice, &QPushButton::clicked, this, &QDialog::reject);

    CenterWindow(this);
}

void DriveChooser::createNotice()
{
    auto* notice = new SSPanel(this);
    notice->setGeometry(PixelRect(Margin, Margin, Width - 2 * Margin, NoticeHeight));
    auto* picture = new QLabel(notice);
    picture->setPixmap(QIcon(QStringLiteral(":/varnello.ico")).pixmap(32, 32));
    picture->setGeometry(PixelRect(Margin, (NoticeHeight - 480) / 2, 480, 480));
    auto* text = new QLabel(QStringLiteral("Varnello needs the boot drive of a Windows 95 installation: "
                                           "a folder that holds msdos.sys, such as a mounted Windows 95 "
                                           "partition, or a disk image of that drive."),
                            notice);
    text->setObjectName(QStringLiteral("Notice"));
    text->setFont(DesignFont("MS Sans Serif", 8.25));
    text->setWordWrap(true);
    text->setGeometry(PixelRect(720, Margin, Width - 2 * Margin - 720 - Margin, NoticeHeight - 2 * Margin));
}

int DriveChooser::createRecentList()
{
    const QFont textFont = DesignFont("MS Sans Serif", 8.25);
    auto* label = new QLabel(QStringLiteral("Opened before:"), this);
    label->setFont(textFont);
    label->setGeometry(PixelRect(Margin, RecentTop, 3600, RecentLabelHeight));
    Recent = new QListWidget(this);
    Recent->setObjectName(QStringLiteral("Recent"));
    Recent->setFont(textFont);
    Recent->addItems(recent_);
    Recent->setCurrentRow(0);
    Recent->setGeometry(PixelRect(Margin, RecentTop + RecentLabelHeight, 3840, RecentListHeight));
    label->setBuddy(Recent);
    OpenRecent = FramedCommand(this, QStringLiteral("&Open"), 4080, RecentTop + RecentLabelHeight, 1200);
    OpenRecent->setObjectName(QStringLiteral("OpenRecent"));
    return RecentTop + RecentLabelHeight + RecentListHeight + Margin;
}

// Three frames across the width, 150 twips apart.
void DriveChooser::createButtons(int top)
{
    constexpr int FrameWidth = (Width - 2 * Margin - 2 * 150) / 3;
    PickFolder = FramedCommand(this, QStringLiteral("&Folder..."), Margin, top, FrameWidth);
    PickFolder->setObjectName(QStringLiteral("PickFolder"));
    PickImage = FramedCommand(this, QStringLiteral("Disk &Image..."), Margin + FrameWidth + 150, top, FrameWidth);
    PickImage->setObjectName(QStringLiteral("PickImage"));
    CancelChoice = FramedCommand(this, QStringLiteral("Cancel"), Margin + 2 * (FrameWidth + 150), top, FrameWidth);
    CancelChoice->setObjectName(QStringLiteral("Cancel"));
}

void DriveChooser::openRecent()
{
    if (QListWidgetItem* item = Recent->currentItem())
        choose(item->text());
}

void DriveChooser::pickFolder()
{
    choose(QFileDialog::getExistingDirectory(this, QStringLiteral("Boot Drive Folder"), startFolder()));
}

void DriveChooser::pickImage()
{
    choose(QFileDialog::getOpenFileName(this, QStringLiteral("Boot Drive Disk Image"), startFolder(), ImageFilter));
}

void DriveChooser::choose(const QString& path)
{
    if (path.isEmpty())
        return;  // the file dialog was cancelled
    const LaunchChoice choice = ChooseDrive(QFile::encodeName(path).toStdString());
    if (choice.action != LaunchAction::Start) {
        ShowMessageBox(choice.problem);
        return;
    }
    chosen_ = choice.drive;
    accept();
}

QString DriveChooser::startFolder() const
{
    return recent_.isEmpty() ? QDir::homePath() : QFileInfo(recent_.first()).absolutePath();
}

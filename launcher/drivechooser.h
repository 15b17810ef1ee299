#pragma once

#include <QDialog>
#include <QStringList>
#include <string>

class QListWidget;
class SSCommand;

// Asks which boot drive to open when drive C holds no msdos.sys: a folder or a disk
// image picked with Qt's file dialogs, or one of the drives opened before.
class DriveChooser : public QDialog {
    Q_OBJECT
public:
    explicit DriveChooser(const QStringList& recent);
    // The drive picked, an absolute path, once the dialog has been accepted.
    const std::string& chosen() const { return chosen_; }

private slots:
    void openRecent();
    void pickFolder();
    void pickImage();

private:
    void createNotice();
    // The drives opened before and the button that opens one; returns where the row of
    // buttons below goes.
    int createRecentList();
    void createButtons(int top);
    // Accepts the dialog with path when it can be a boot drive; otherwise says why and stays.
    void choose(const QString& path);
    // Where the file dialogs start: beside the drive opened last, else at home.
    QString startFolder() const;

    QStringList recent_;
    QListWidget* Recent = nullptr;
    SSCommand* OpenRecent = nullptr;
    SSCommand* PickFolder;
    SSCommand* PickImage;
    SSCommand* CancelChoice;
    std::string chosen_;
};

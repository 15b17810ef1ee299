#pragma once

#include <QDialog>

class SSCommand;
class SSPanel;

// The about box, opened modally from the main window and made afresh each time.
class Information : public QDialog {
    Q_OBJECT
public:
    // Shows a new information window over owner and waits until it is closed.
    static void Open(QWidget* owner);

private:
    explicit Information(QWidget* parent);

    SSPanel* SSPanel5;  // the version line
    SSCommand* ExitInfo;
};

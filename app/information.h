#pragma once

#include <QDialog>

class SSCommand;
class SSPanel;

// The about box, opened modally from the main window and made afresh each time.
class Information : public QDialog {
    Q_OBJECT
public:
    explicit Information(QWidget* parent);

private:
    SSPanel* SSPanel5;  // the version line
    SSCommand* ExitInfo;
};

#pragma once

#include <QFrame>

// The splash window: centred, above every other window, without taking the focus,
// from the program's start until the main window is shown.
class Starting : public QFrame {
    Q_OBJECT
public:
    // Creating it is showing it: it centres itself and becomes topmost and visible.
    Starting();
    // Unloading: it gives up the topmost place, then goes.
    ~Starting() override;
};

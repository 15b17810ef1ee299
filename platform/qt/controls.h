#pragma once

// The control kinds the windows are built from: 3-D panels and command buttons, the
// standard check box and edit field, a vertical spin button and a one-line status bar.
// Each reports pointer movement over itself (not over its children) through its
// PointerWatch, and keeps that movement from reaching the widget below it. Each has a role a screen
// reader speaks; InstallControlAccessibility gives the kinds Qt has none for theirs.

#include <QCheckBox>
#include <QColor>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

class QTimer;
class QToolButton;

inline const QColor LightGrey(192, 192, 192);

// Tells of the pointer moving over one control, enabled or not (Qt gives a disabled
// widget no movement of its own, but a locked box still explains itself).
class PointerWatch : public QObject {
    Q_OBJECT
public:
    explicit PointerWatch(QWidget* control);

signals:
    void moved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The watch on a control of these kinds.
PointerWatch* PointerOf(QWidget* control);

class SSPanel : public QFrame {
    Q_OBJECT
public:
    explicit SSPanel(QWidget* parent, const QString& caption = {});
    void setCaption(const QString& caption);
    QString caption() const { return caption_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
};

class SSCommand : public QPushButton {
    Q_OBJECT
public:
    SSCommand(QWidget* parent, const QString& caption);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class CheckBox : public QCheckBox {
    Q_OBJECT
public:
    CheckBox(QWidget* parent, const QString& caption);
};

// A single-line field whose length limit binds only what the user types or pastes:
// text set by the program is shown whole, however long.
class TextField : public QLineEdit {
    Q_OBJECT
public:
    TextField(QWidget* parent, int typedLength);
    int typedLength() const { return typedLength_; }

signals:
    void focusLost();
    // Up or Down was pressed: step the number by +1 or -1, as a spin arrow would.
    void stepKey(int step);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int typedLength_;
};

// Up arrow above down arrow. A press on an arrow steps once; held, it steps again after
// RepeatStartMs and then every repeatDelayMs, for as long as the button is really held
// over it. A release (wherever it happens), a modal window, the window losing the
// activation or being hidden end the hold.
class SpinButton : public QWidget {
    Q_OBJECT
public:
    // As long as the keyboard's and Qt's own spin boxes wait: a click, even a slow one,
    // is over by then.
    static constexpr int RepeatStartMs = 500;

    SpinButton(QWidget* parent, int repeatDelayMs);
    QToolButton* upArrow() const { return up_; }
    QToolButton* downArrow() const { return down_; }

signals:
    void spinUp();
    void spinDown();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Steps the held arrow, then waits nextMs for the next step.
    void step(int nextMs);
    void repeatStep();
    void endHold();

    QToolButton* up_;
    QToolButton* down_;
    QToolButton* held_ = nullptr;  // the arrow pressed, until the hold ends
    QTimer* repeat_;
    int repeatDelayMs_;
};

// One text across the whole width, sunken, along the bottom of a window.
class StatusBar : public QFrame {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent);
    void setSimpleText(const QString& text);
    QString simpleText() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QString text_;
};

// A font as the window designs name it; fontconfig stands in for missing families.
QFont DesignFont(const char* family, qreal points, bool bold = false, bool italic = false);

// Roles for screen readers: a captioned panel reads as a label, a bare one as a pane, the
// spin button as a group of its arrows, the status bar as one, and a top-level window that
// is no dialog as a frame. Called once the application object exists.
void InstallControlAccessibility();

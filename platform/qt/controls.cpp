#include "platform/qt/controls.h"

#include "platform/qt/ui.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTimer>
#include <QToolButton>
#include <QValidator>

namespace {

// Pointer movement is reported by the control under the pointer only: accepting it
// keeps a frame or the window below from taking it as movement over itself.
void TrackPointer(QWidget* widget)
{
    widget->setMouseTracking(true);
    widget->setAttribute(Qt::WA_NoMousePropagation);
    new PointerWatch(widget);
}

void SetBackground(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Button, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Lets the user type or paste up to the field's length, and always delete; a text the
// program writes (setText leaves the field unmodified) is shown whole. It must count as
// valid: QLineEdit undoes a refused edit only when the text before it was valid.
class TypedLengthValidator : public QValidator {
public:
    TypedLengthValidator(QLineEdit* field, int length) : QValidator(field), field_(field), length_(length)
    {
        connect(field, &QLineEdit::textChanged, this, [this](const QString& text) { shown_ = text; });
    }

    State validate(QString& input, int&) const override
    {
        if (!field_->isModified() || input.size() <= length_ || input.size() < shown_.size())
            return Acceptable;
        return Invalid;
    }

private:
    QLineEdit* field_;
    int length_;
    QString shown_;  // the text before the edit being validated
};

// A panel with a caption is read as that text, one without as a pane that frames others.
class PanelAccessibility : public QAccessibleWidget {
public:
    explicit PanelAccessibility(SSPanel* panel) : QAccessibleWidget(panel) {}
    QAccessible::Role role() const override
    {
        return static_cast<const SSPanel*>(widget())->caption().isEmpty() ? QAccessible::Pane : QAccessible::StaticText;
    }
};

QAccessibleInterface* ControlAccessibility(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String("SSPanel"))
        return new PanelAccessibility(static_cast<SSPanel*>(widget));
    if (className == QLatin1String("SpinButton"))
        return new QAccessibleWidget(widget, QAccessible::Grouping);
    if (className == QLatin1String("StatusBar"))
        return new QAccessibleWidget(widget, QAccessible::StatusBar);
    // Qt reads a plain top-level widget as a client area ("filler"), not as the window it is.
    const Qt::WindowType type = widget->windowType();
    if ((type == Qt::Window || type == Qt::SplashScreen) && !qobject_cast<QDialog*>(widget))
        return new QAccessibleWidget(widget, QAccessible::Window);
    return nullptr;
}

}  // namespace

PointerWatch::PointerWatch(QWidget* control) : QObject(control)
{
    control->installEventFilter(this);
}

bool PointerWatch::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        emit moved();
    return false;
}

PointerWatch* PointerOf(QWidget* control)
{
    return control->findChild<PointerWatch*>(QString(), Qt::FindDirectChildrenOnly);
}

SSPanel::SSPanel(QWidget* parent, const QString& caption) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    SetBackground(this, LightGrey);
    TrackPointer(this);
    setCaption(caption);
}

void SSPanel::setCaption(const QString& caption)
{
    caption_ = caption;
    setAccessibleName(caption);
    update();
}

void SSPanel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (caption_.isEmpty())
        return;
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignCenter, caption_);
}

SSCommand::SSCommand(QWidget* parent, const QString& caption) : QPushButton(caption, parent)
{
    TrackPointer(this);
}

void SSCommand::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (isDown())
        area.translate(1, 1);
    painter.setPen(palette().color(QPalette::ButtonText));
    if (icon().isNull()) {
        painter.drawText(area, Qt::AlignCenter | Qt::TextShowMnemonic, text());
    } else {
        // Picture above the caption, the pair centred in the button.
        const QSize picture = iconSize();
        const int textHeight = fontMetrics().height();
        const int top = area.top() + (area.height() - picture.height() - textHeight) / 2;
        const QRect pictureRect(area.left() + (area.width() - picture.width()) / 2, top,
                                picture.width(), picture.height());
        icon().paint(&painter, pictureRect);
        painter.drawText(QRect(area.left(), pictureRect.bottom() + 1, area.width(), textHeight),
                         Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

CheckBox::CheckBox(QWidget* parent, const QString& caption) : QCheckBox(caption, parent)
{
    TrackPointer(this);
}

TextField::TextField(QWidget* parent, int typedLength) : QLineEdit(parent), typedLength_(typedLength)
{
    setValidator(new TypedLengthValidator(this, typedLength));
    TrackPointer(this);
}

void TextField::keyPressEvent(QKeyEvent* event)
{
    // The arrow keys step the number, as in the platform's own spin boxes.
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        emit stepKey(event->key() == Qt::Key_Up ? +1 : -1);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TextField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another window taking the activation (a message box, another program) is not the
    // user leaving the field.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit focusLost();
}

SpinButton::SpinButton(QWidget* parent, int repeatDelayMs)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)), repeat_(new QTimer(this)),
      repeatDelayMs_(repeatDelayMs)
{
    for (QToolButton* arrow : {up_, down_}) {
        arrow->setFocusPolicy(Qt::NoFocus);
        // The pointer is the spin button's own: it alone decides when a held arrow steps.
        arrow->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    setFocusPolicy(Qt::NoFocus);
    TrackPointer(this);
    repeat_->setSingleShot(true);
    repeat_->setTimerType(Qt::PreciseTimer);  // a coarse one may come early
    connect(repeat_, &QTimer::timeout, this, &SpinButton::repeatStep);
}

void SpinButton::resizeEvent(QResizeEvent*)
{
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
}

void SpinButton::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || held_)
        return;
    held_ = event->position().y() < down_->y() ? up_ : down_;
    held_->setDown(true);
    step(RepeatStartMs);
}

void SpinButton::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    // Off the arrow it shows up and waits; back on it, it goes on repeating.
    if (held_)
        held_->setDown(held_->geometry().contains(event->position().toPoint()));
}

void SpinButton::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        endHold();
}

bool SpinButton::event(QEvent* event)
{
    if (event->type() == QEvent::WindowDeactivate)
        endHold();
    return QWidget::event(event);
}

void SpinButton::hideEvent(QHideEvent*)
{
    endHold();
}

void SpinButton::step(int nextMs)
{
    // The timer waits while the step lets pending events run: input stays queued there,
    // and a repetition could run ahead of a release already made. The window may close
    // meanwhile, or hide and end the hold.
    const QPointer<SpinButton> alive(this);
    if (held_ == up_)
        emit spinUp();
    else
        emit spinDown();
    if (alive && held_)
        repeat_->start(nextMs);
}

void SpinButton::repeatStep()
{
    // A release or a move off the arrow may still wait in a queue, or a release have gone
    // to a window that a modal one blocks; the window system knows the button and the
    // pointer now.
    const QWidget* modal = QApplication::activeModalWidget();
    const PointerNow pointer = AskPointer();
    if ((modal && modal != window()) || !pointer.leftHeld) {
        endHold();
        return;
    }
    if (pointer.position)
        held_->setDown(held_->rect().contains(held_->mapFromGlobal(*pointer.position)));
    if (held_->isDown())
        step(repeatDelayMs_);
    else
        repeat_->start(repeatDelayMs_);
}

void SpinButton::endHold()
{
    repeat_->stop();
    if (held_)
        held_->setDown(false);
    held_ = nullptr;
}

StatusBar::StatusBar(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    TrackPointer(this);
}

void StatusBar::setSimpleText(const QString& text)
{
    // Screen readers hear of a new text, not of every pointer movement that rewrites it.
    if (text != text_)
        setAccessibleName(text);
    text_ = text;
    update();
}

void StatusBar::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect().adjusted(3, 0, -3, 0), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

void StatusBar::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

QFont DesignFont(const char* family, qreal points, bool bold, bool italic)
{
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

void InstallControlAccessibility()
{
    QAccessible::installFactory(&ControlAccessibility);
}

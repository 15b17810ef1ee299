// The yardstick for start-up: a plain Qt window with the same controls at the same
// places and sizes as Varnello's main window (12 check boxes, 3 one-line fields with a
// pair of small arrow buttons each, 3 buttons, 3 labels, a status line), the same
// fonts and the same two icons, but no file access, no splash window, no instance lock.
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QToolButton>
#include <QWidget>

namespace {

int Px(int twips) { return (twips + 7) / 15; }

void Place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QFont Font(const char* family, qreal points, bool bold = false, bool italic = false)
{
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QFrame* Frame(QWidget* parent, int left, int top, int width, int height)
{
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Place(frame, left, top, width, height);
    return frame;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Windows")));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setWindowIcon(QIcon(QStringLiteral(":/varnello.ico")));
    window.setFixedSize(Px(6390), Px(5055));

    Frame(&window, 120, 120, 3015, 4455);
    Frame(&window, 3360, 480, 1695, 1095);
    Frame(&window, 5160, 480, 1095, 1095);
    Frame(&window, 3480, 1800, 2655, 735);
    Frame(&window, 3360, 3000, 2895, 1575);

    const int widths[12] = {1815, 1575, 2535, 2775, 2655, 2175, 1695, 2775, 2415, 2535, 2175, 2175};
    for (int i = 0; i < 12; ++i) {
        auto* box = new QCheckBox(QStringLiteral("Option %1").arg(i + 1), &window);
        Place(box, 240, 240 + 360 * i, widths[i], 255);
        box->setFont(Font("MS Sans Serif", 8.25));
    }

    auto* info = new QPushButton(QStringLiteral("Info About..."), &window);
    Place(info, 3435, 555, 1545, 945);
    info->setFont(Font("Arial", 12, true, true));
    info->setIcon(QIcon(QStringLiteral(":/varnello.ico")));
    auto* exit = new QPushButton(QStringLiteral("Exit"), &window);
    Place(exit, 5235, 555, 945, 945);
    exit->setFont(Font("Arial", 18, true));
    exit->setIcon(QIcon(QStringLiteral(":/exit.ico")));
    auto* defaults = new QPushButton(QStringLiteral("Default Settings"), &window);
    Place(defaults, 3555, 1875, 2505, 585);
    defaults->setFont(Font("Arial", 14.25, true, true));

    for (int i = 0; i < 3; ++i) {
        const int top = 3120 + 480 * i;
        auto* field = new QLineEdit(QStringLiteral("1"), &window);
        Place(field, 3480, top, 375, 315);
        field->setFont(Font("Arial", 8.25));
        field->setMaxLength(2);
        auto* up = new QToolButton(&window);
        up->setArrowType(Qt::UpArrow);
        up->setAutoRepeat(true);
        Place(up, 3855, top, 165, 157);
        auto* down = new QToolButton(&window);
        down->setArrowType(Qt::DownArrow);
        down->setAutoRepeat(true);
        Place(down, 3855, top + 157, 165, 158);
        auto* label = new QLabel(QStringLiteral("Row %1").arg(i), &window);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAlignment(Qt::AlignCenter);
        Place(label, 4080, top, 2055, 315);
        label->setFont(Font("MS Sans Serif", 8.25));
    }

    auto* status = new QLabel(&window);
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Place(status, 0, 4680, 6390, 375);

    window.show();
    return application.exec();
}

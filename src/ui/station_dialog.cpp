#include "ui/station_dialog.h"

#include "host/codepage.h"
#include "host/host_services.h"

#include <QDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <climits>

namespace
{

// The frame assumed until the window manager reports its own (never, on the offscreen
// platform): the borders and title bar the window sizes were designed with.
const QMargins assumedFrame(3, 26, 3, 3);

class StationDialog : public QDialog
{
  public:
    StationDialog(QSize outerSize)
        : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
          outerSize_(outerSize)
    {
        fitToFrame();
    }

  protected:
    // The window manager reports its frame only after the window is mapped, with a move.
    bool event(QEvent *event) override
    {
        bool handled = QDialog::event(event);
        if (event->type() == QEvent::Show || event->type() == QEvent::Move)
            fitToFrame();
        return handled;
    }

  private:
    QSize outerSize_;
    QMargins applied_{-1, -1, -1, -1};

    QMargins reportedFrame() const
    {
        QRect frame = frameGeometry();
        QRect client = geometry();
        return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                        frame.right() - client.right(), frame.bottom() - client.bottom());
    }

    // The client area is the outer size less the frame; the whole window is centred again
    // whenever the frame changes (at most once after the window manager has reported it).
    void fitToFrame()
    {
        QMargins frame = isVisible() ? reportedFrame() : QMargins();
        if (frame.isNull())
            frame = assumedFrame;
        if (frame == applied_)
            return;
        applied_ = frame;
        setFixedSize(outerSize_.width() - frame.left() - frame.right(),
                     outerSize_.height() - frame.top() - frame.bottom());
        QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            QRect area = screen->availableGeometry();
            move(area.center() - QPoint(outerSize_.width() / 2, outerSize_.height() / 2));
        }
    }
};

QFont dialogFont()
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    return font;
}

} // namespace

QDialog *createStationDialog(StationWindow window, const char *title, QSize outerSize)
{
    auto *dialog = new StationDialog(outerSize);
    dialog->setWindowTitle(QString::fromUtf8(title));
    dialog->setFont(dialogFont());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    host().registerWindow(window, dialog);
    QObject::connect(dialog, &QObject::destroyed,
                     [window, dialog] { host().unregisterWindow(window, dialog); });
    return dialog;
}

void runStationDialog(QDialog *dialog)
{
    QPointer<QDialog> guard(dialog);
    dialog->exec(); // destroys the window when it closes (WA_DeleteOnClose)
    delete guard.data();
}

void closeStationDialog(StationWindow window)
{
    if (auto *dialog = qobject_cast<QDialog *>(host().window(window)))
        dialog->accept();
}

QWidget *addGroupBox(QWidget *parent, const char *name, QRect rect)
{
    auto *box = new QGroupBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(rect);
    return box;
}

QLabel *addLabel(QWidget *parent, const char *name, QRect rect, const char *text)
{
    auto *label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(rect);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit *addPasswordBox(QWidget *parent, const char *name, QRect rect)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setGeometry(rect);
    edit->setEchoMode(QLineEdit::Password);
    // Qt shows "●" by default; the station has always shown "*".
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    edit->setMaxLength(INT_MAX);
    return edit;
}

QPushButton *addButton(QWidget *parent, const char *name, QRect rect, const char *text)
{
    auto *button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(rect);
    return button;
}

std::string typedPassword(StationWindow window, const char *name)
{
    std::string bytes = utf8ToCp936Text(host().controlText(window, name));
    return bytes.substr(0, bytes.find('\0'));
}

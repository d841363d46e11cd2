#include "host/host_services.h"

#include "host/global_hotkeys.h"
#include "host/picture_cache.h"
#include "host/station_widgets.h"
#include "host/text_display.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QStyleFactory>
#include <QWidget>

#include <cstdio>
#include <ctime>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define SELVANA_LEAK_CHECK() __lsan_do_leak_check()
#else
#define SELVANA_LEAK_CHECK() ((void)0)
#endif

namespace
{

const char *const bytesProperty = "selvanaBytes";

QByteArray toBytes(const std::string &text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromBytes(const QByteArray &bytes)
{
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

int hotkeySequence = 0;

} // namespace

HostServices &host()
{
    static HostServices *services = new HostServices; // never destroyed: workers may outlive main
    return *services;
}

void HostServices::registerWindow(StationWindow window, QWidget *widget)
{
    windows_[static_cast<int>(window)] = widget;
}

void HostServices::unregisterWindow(StationWindow window, QWidget *widget)
{
    if (windows_[static_cast<int>(window)] == widget)
        windows_[static_cast<int>(window)] = nullptr;
}

QWidget *HostServices::window(StationWindow window) const
{
    return windows_[static_cast<int>(window)];
}

QWidget *HostServices::control(StationWindow window, const char *name) const
{
    QWidget *w = this->window(window);
    if (!w)
        return nullptr;
    if (w->objectName() == QString::fromUtf8(name))
        return w;
    return w->findChild<QWidget *>(QString::fromUtf8(name));
}

std::string HostServices::controlText(StationWindow window, const char *name) const
{
    QWidget *w = control(window, name);
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
        int index = combo->currentIndex();
        return index < 0 ? std::string() : fromBytes(combo->itemData(index).toByteArray());
    }
    if (auto *edit = qobject_cast<QLineEdit *>(w))
        return fromBytes(edit->text().toUtf8());
    if (w && w->property(bytesProperty).isValid())
        return fromBytes(w->property(bytesProperty).toByteArray());
    if (auto *label = qobject_cast<QLabel *>(w))
        return fromBytes(label->text().toUtf8());
    if (auto *button = qobject_cast<QAbstractButton *>(w))
        return fromBytes(button->text().toUtf8());
    return {};
}

void HostServices::setControlText(StationWindow window, const char *name, const std::string &text)
{
    QWidget *w = control(window, name);
    if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        edit->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    } else if (auto *label = qobject_cast<QLabel *>(w)) {
        label->setProperty(bytesProperty, toBytes(text));
        label->setText(displayText(text));
    } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        button->setProperty(bytesProperty, toBytes(text));
        button->setText(displayText(text));
    }
}

int HostServices::controlIndex(StationWindow window, const char *name) const
{
    auto *combo = qobject_cast<QComboBox *>(control(window, name));
    return combo ? combo->currentIndex() : -1;
}

void HostServices::setControlIndex(StationWindow window, const char *name, int index)
{
    auto *combo = qobject_cast<QComboBox *>(control(window, name));
    if (!combo)
        return;
    // Only the user's choice (QComboBox::activated) counts as an item-chosen event.
    combo->setCurrentIndex(index < combo->count() ? index : -1);
}

int HostServices::listItemCount(StationWindow window, const char *name) const
{
    auto *combo = qobject_cast<QComboBox *>(control(window, name));
    return combo ? combo->count() : 0;
}

void HostServices::addListItem(StationWindow window, const char *name, const std::string &text)
{
    auto *combo = qobject_cast<QComboBox *>(control(window, name));
    if (!combo)
        return;
    bool wasEmpty = combo->count() == 0;
    combo->addItem(displayText(text), toBytes(text));
    if (wasEmpty)
        combo->setCurrentIndex(-1); // a filled list starts with no item chosen
}

void HostServices::clearList(StationWindow window, const char *name)
{
    if (auto *combo = qobject_cast<QComboBox *>(control(window, name)))
        combo->clear();
}

namespace
{

// Pictures are decoded for the larger of the canvas as it is now and the full-screen canvas it
// becomes, so the first photo is sharp once the window goes full-screen.
QSize canvasArea(PhotoCanvas *canvas)
{
    QSize area = canvas->contentsRect().size();
    if (QWidget *top = canvas->window(); top && top->screen()) {
        QSize screen = top->screen()->size();
        area = area.expandedTo(QSize(screen.width() - 2, screen.height() - 32 - 2));
    }
    return area;
}

} // namespace

PictureCache &HostServices::pictures()
{
    if (!pictures_) {
        pictures_ = new PictureCache;
        // A program that ends by returning from main (the tests) destroys the application and
        // the static objects while a worker may still be decoding: stop the workers first.
        qAddPostRoutine([] { host().pictures_->stop(); });
    }
    return *pictures_;
}

void HostServices::setCanvasPictureFromFile(StationWindow window, const char *name,
                                            const std::string &path)
{
    auto *canvas = qobject_cast<PhotoCanvas *>(control(window, name));
    if (!canvas)
        return;
    CanvasPicture picture = pictures().picture(path, canvasArea(canvas));
    canvas->setPicture(picture.image, picture.fullSize);
}

void HostServices::prefetchCanvasPictures(StationWindow window, const char *name,
                                          const std::vector<std::string> &paths,
                                          const std::string &shown)
{
    if (auto *canvas = qobject_cast<PhotoCanvas *>(control(window, name)))
        pictures().prefetch(paths, shown, canvasArea(canvas));
}

void HostServices::forgetCanvasPictures()
{
    if (pictures_)
        pictures_->clear();
}

void HostServices::setCanvasPrefetch(bool enabled)
{
    pictures().setEnabled(enabled);
}

void HostServices::showMessage(const std::string &text)
{
    if (messageHandler_) {
        messageHandler_(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8("信息："), displayText(text),
                    QMessageBox::Ok, window(StationWindow::main));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void HostServices::processEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int HostServices::registerHotkey(StationWindow window, const char *receiver, int modifiers,
                                 int virtualKey)
{
    int identifier = 33000 + ++hotkeySequence;
    QWidget *owner = this->window(window);
    std::string receiverName = receiver;
    bool taken =
        grabGlobalKey(owner, virtualKey, modifiers, [this, window, receiverName, identifier] {
            if (auto *label = qobject_cast<FeedbackLabel *>(control(window, receiverName.c_str())))
                label->raiseFeedback(identifier, 0);
        });
    return taken ? identifier : 0;
}

void HostServices::setExitCleanUp(std::function<void()> cleanUp)
{
    exitCleanUp_ = std::move(cleanUp);
    exitCleanUpDone_ = false;
}

void HostServices::runExitCleanUp()
{
    if (exitCleanUpDone_)
        return;
    exitCleanUpDone_ = true;
    if (exitCleanUp_)
        exitCleanUp_();
}

void HostServices::endProcess(int code)
{
    runExitCleanUp();
    if (pictures_)
        pictures_->stop(); // a decode in progress finishes; nothing is left half done
    // End at once: no event loop needed, and no static destructors that could race a web
    // worker still running. The sanitizer build still checks for leaks first.
    std::fflush(nullptr);
    SELVANA_LEAK_CHECK();
    _exit(code);
}

void HostServices::setThemedDrawing(int style)
{
    static const QString platformStyle = QApplication::style()->name();
    if (style >= 1 && style <= 3)
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    else
        QApplication::setStyle(QStyleFactory::create(platformStyle));
}

void HostServices::shellOpen(const std::string &path)
{
    QProcess::startDetached(
        QStringLiteral("xdg-open"),
        {QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()))});
}

uint32_t HostServices::uptimeMilliseconds() const
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void HostServices::setMessageHandler(std::function<void(const std::string &)> handler)
{
    messageHandler_ = std::move(handler);
}

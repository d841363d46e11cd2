#include "ui/main_window.h"

#include "app/program_start.h"
#include "app/startup.h"
#include "catalogue/photo_catalogue.h"
#include "catalogue/selection_commands.h"
#include "host/host_services.h"
#include "host/station_widgets.h"
#include "ui/command_hotkeys.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>

namespace
{

const QColor stripBlue(0, 136, 255);
const QRect designRect(0, 0, 968, 732);

class MainWindowWidget : public QWidget
{
  public:
    MainWindowWidget() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {}

  protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        layoutMainWindow();
    }
};

QFont songFont(int pixelHeight, int weight)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelHeight);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

void paintStrip(QWidget *widget, QColor text, QColor background)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Button, background);
    palette.setColor(QPalette::Base, background);
    widget->setPalette(palette);
}

QLabel *makeStripLabel(QWidget *parent, const char *name, QRect rect, const char *text, QFont font,
                       Qt::Alignment alignment, bool feedback = false)
{
    QLabel *label = feedback ? new FeedbackLabel(parent) : new QLabel(parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(rect);
    label->setText(QString::fromUtf8(text));
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setAutoFillBackground(true);
    paintStrip(label, Qt::white, stripBlue);
    return label;
}

QComboBox *makeFolderList(QWidget *parent, const char *name, QRect rect)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QString::fromUtf8(name));
    combo->setGeometry(rect);
    combo->setEditable(false);
    combo->setInsertPolicy(QComboBox::InsertAtBottom);
    combo->setFocusPolicy(Qt::NoFocus); // Enter and the arrows belong to the photo commands
    paintStrip(combo, Qt::white, stripBlue);
    combo->setStyleSheet(
        QStringLiteral("QComboBox { color: white; background-color: rgb(0, 136, 255); }"));
    combo->view()->setMinimumHeight(160); // the opened list is at least 160 pixels high
    return combo;
}

QPushButton *makeButton(QWidget *parent, const char *name, QRect rect, const char *text,
                        bool visible)
{
    auto *button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(rect);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    button->setVisible(visible);
    return button;
}

QWidget *mainWidget()
{
    return host().window(StationWindow::main);
}

} // namespace

QWidget *createMainWindow()
{
    auto *window = new MainWindowWidget;
    window->setObjectName(QStringLiteral("主窗口"));
    window->setWindowTitle(QString());
    window->setGeometry(designRect);
    window->setAttribute(Qt::WA_DeleteOnClose, false);

    // Created bottom first: a later sibling is drawn above an earlier one.
    auto *canvas = new PhotoCanvas(window);
    canvas->setObjectName(QStringLiteral("画板1"));
    canvas->setGeometry(80, 232, 848, 408);

    makeStripLabel(window, "标签7", QRect(0, 0, 99, 32), "", songFont(21, 700), Qt::AlignRight);
    QPushButton *deleteButton = makeButton(window, "按钮1", QRect(816, 5, 80, 24), "删除", true);

    auto *timer = new QTimer(window);
    timer->setObjectName(QStringLiteral("时钟1"));
    timer->setInterval(0); // a period of 0 keeps it stopped: no photo advances by itself

    QPushButton *nextButton = makeButton(window, "按钮2", QRect(560, 264, 80, 32), ">>>>", false);
    QPushButton *previousButton =
        makeButton(window, "按钮3", QRect(288, 264, 80, 32), "<<<<", false);
    QPushButton *selectButton = makeButton(window, "按钮4", QRect(720, 5, 80, 24), "选定", true);
    QComboBox *projectList = makeFolderList(window, "组合框1", QRect(480, 8, 144, 20));
    QLabel *total = makeStripLabel(window, "标签1", QRect(280, 6, 80, 24), "", songFont(20, 400),
                                   Qt::AlignLeft, true);
    makeStripLabel(window, "标签2", QRect(632, 6, 80, 24), "", songFont(20, 400), Qt::AlignLeft);
    makeStripLabel(window, "标签4", QRect(56, 6, 72, 24), "相片源：", songFont(20, 400),
                   Qt::AlignLeft);
    makeStripLabel(window, "标签5", QRect(384, 6, 96, 24), "项目相片：", songFont(20, 400),
                   Qt::AlignLeft);
    QComboBox *sourceList = makeFolderList(window, "组合框2", QRect(128, 8, 144, 20));

    auto *marker = new QLabel(window);
    marker->setObjectName(QStringLiteral("透明标签1"));
    marker->setGeometry(408, 40, 80, 24);
    marker->setFont(songFont(24, 400));
    marker->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    marker->setAttribute(Qt::WA_TranslucentBackground);
    marker->setAttribute(Qt::WA_TransparentForMouseEvents); // a press on it is a canvas press
    paintStrip(marker, Qt::red, Qt::transparent);
    marker->setAutoFillBackground(false);

    auto *menu = new QMenu(QString::fromUtf8("菜单"), window);
    menu->setObjectName(QStringLiteral("菜单"));
    QObject::connect(menu->addAction(QString::fromUtf8("修改密码")), &QAction::triggered,
                     [] { changePassword(); });
    QObject::connect(menu->addAction(QString::fromUtf8("更改客户")), &QAction::triggered,
                     [] { changeCustomer(); });
    QObject::connect(menu->addAction(QString::fromUtf8("退出")), &QAction::triggered,
                     [] { quitStation(); });

    // The item-chosen events are the user's choices only (activated), never a choice by program.
    QObject::connect(sourceList, &QComboBox::activated, [] { loadPhotoList(); });
    QObject::connect(projectList, &QComboBox::activated, [] { refreshSelectedCount(); });
    QObject::connect(selectButton, &QPushButton::clicked, [] { selectCurrent(); });
    QObject::connect(deleteButton, &QPushButton::clicked, [] { deleteCurrent(); });
    QObject::connect(previousButton, &QPushButton::clicked, [] { showPrevious(); });
    QObject::connect(nextButton, &QPushButton::clicked, [] { showNext(); });
    QObject::connect(timer, &QTimer::timeout, [] { showNext(); });
    QObject::connect(canvas, &PhotoCanvas::leftPressed, pageByClick);
    QObject::connect(canvas, &PhotoCanvas::rightReleased, openStationMenu);
    QObject::connect(static_cast<FeedbackLabel *>(total), &FeedbackLabel::feedback, dispatchHotkey);

    host().registerWindow(StationWindow::main, window);
    return window;
}

void showMainWindowFullScreen()
{
    QWidget *window = mainWidget();
    // The first layout is for the design rectangle, before the window goes full-screen.
    window->setGeometry(designRect);
    layoutMainWindow();
    QScreen *screen = QGuiApplication::primaryScreen();
    window->setGeometry(screen->geometry());
    window->showFullScreen();
}

void layoutMainWindow()
{
    QWidget *window = mainWidget();
    if (!window)
        return;
    int width = window->width();
    int height = window->height();
    if (QWidget *canvas = host().control(StationWindow::main, "画板1"))
        canvas->setGeometry(0, 32, width, height - 32);
    if (QWidget *strip = host().control(StationWindow::main, "标签7"))
        strip->setGeometry(0, 0, width, 32);
    if (QWidget *marker = host().control(StationWindow::main, "透明标签1"))
        marker->move(width / 2, 40);
}

void pageByClick(int x, int, int)
{
    QWidget *canvas = host().control(StationWindow::main, "画板1");
    if (!canvas)
        return;
    // A press exactly on the middle pages back.
    if (x > canvas->width() / 2.0)
        showNext();
    else
        showPrevious();
}

void openStationMenu(int x, int y, int)
{
    auto *canvas = qobject_cast<PhotoCanvas *>(host().control(StationWindow::main, "画板1"));
    auto *menu = mainWidget() ? mainWidget()->findChild<QMenu *>(QStringLiteral("菜单")) : nullptr;
    if (!canvas || !menu)
        return;
    QPoint release = canvas->mapToGlobal(QPoint(x, y) + canvas->contentsRect().topLeft());
    // The chosen item's operation runs from its triggered signal, once the menu has closed.
    menu->exec(release + QPoint(3, 3));
}

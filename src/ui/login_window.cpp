#include "ui/login_window.h"

#include "access/password_file.h"
#include "app/program_start.h"
#include "app/station_state.h"
#include "catalogue/photo_catalogue.h"
#include "host/host_services.h"
#include "ui/station_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include <vector>

namespace
{

const StationWindow login = StationWindow::login;

// The banner: the studio's blue with a lens in outline and the window's purpose.
QPixmap drawBanner(QSize size)
{
    QPixmap banner(size);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(0, 96, 200));
    sky.setColorAt(1, QColor(0, 170, 255));
    painter.fillRect(banner.rect(), sky);
    QPointF lens(size.height() / 2.0 + 8, size.height() / 2.0);
    painter.setPen(QPen(QColor(255, 255, 255, 200), 2));
    painter.setBrush(Qt::NoBrush);
    for (qreal radius : {18.0, 12.0, 6.0})
        painter.drawEllipse(lens, radius, radius);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(size.height() + 16, 0, size.width() - size.height() - 24, size.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("相片选片 · 登入"));
    return banner;
}

QDialog *createLoginWindow()
{
    QDialog *dialog = createStationDialog(login, "密码登入", QSize(287, 208));

    auto *banner = new QLabel(dialog);
    banner->setObjectName(QStringLiteral("图片框1"));
    banner->setGeometry(0, 0, 280, 48);
    banner->setPixmap(drawBanner(banner->size()));

    // Created top to bottom, which is also the order Tab follows.
    QWidget *frame = addGroupBox(dialog, "分组框1", QRect(12, 48, 256, 120));
    addLabel(frame, "标签4", QRect(24, 20, 48, 24), "客  户：");
    auto *customers = new QComboBox(frame);
    customers->setObjectName(QStringLiteral("组合框2"));
    customers->setGeometry(80, 22, 144, 20);
    customers->setEditable(false);
    addLabel(frame, "标签2", QRect(16, 51, 64, 24), "登入密码：");
    QLineEdit *password = addPasswordBox(frame, "编辑框1", QRect(80, 51, 144, 20));
    QPushButton *submit = addButton(frame, "登入按钮", QRect(44, 80, 64, 26), "登入");
    QPushButton *exit = addButton(frame, "退出按钮", QRect(144, 80, 64, 26), "退出");
    submit->setDefault(true);

    QObject::connect(submit, &QPushButton::clicked, [] { submitLogin(); });
    QObject::connect(exit, &QPushButton::clicked, [] { quitStation(); });
    password->setFocus();
    return dialog;
}

} // namespace

void fillCustomerList()
{
    std::vector<std::string> names;
    listSubFolders(station().photoRoot, names, false);
    for (const std::string &name : names)
        host().addListItem(login, "组合框2", name);
    host().setControlIndex(login, "组合框2", 0);
}

void submitLogin()
{
    if (host().controlIndex(login, "组合框2") < 0) {
        host().showMessage("选择客户再登陆");
        return;
    }
    std::optional<std::string> password = loadStationPassword();
    if (!password) {
        host().showMessage(passwordFileUnreadableMessage);
        return;
    }
    if (typedPassword(login, "编辑框1") != *password) {
        host().showMessage("密码错误请重新输入");
        return;
    }
    StationState &state = station();
    state.customer = host().controlText(login, "组合框2");
    state.loggedIn = 1;
    closeStationDialog(login);
}

void showLoginWindow()
{
    QDialog *dialog = createLoginWindow();
    fillCustomerList();
    runStationDialog(dialog);
}

#include "ui/password_window.h"

#include "access/password_file.h"
#include "host/host_services.h"
#include "ui/login_window.h"
#include "ui/station_dialog.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace
{

const StationWindow change = StationWindow::passwordChange;

QDialog *createPasswordChangeWindow()
{
    QDialog *dialog = createStationDialog(change, "密码修改", QSize(280, 172));
    // Created top to bottom, which is also the order Tab follows.
    QWidget *frame = addGroupBox(dialog, "分组框1", QRect(8, 8, 256, 120));
    addLabel(frame, "标签1", QRect(31, 16, 64, 24), "旧密码：");
    QLineEdit *oldPassword = addPasswordBox(frame, "编辑框2", QRect(80, 16, 144, 20));
    addLabel(frame, "标签2", QRect(31, 54, 64, 24), "新密码：");
    addPasswordBox(frame, "编辑框1", QRect(80, 54, 144, 20));
    QPushButton *confirm = addButton(frame, "登入按钮", QRect(51, 85, 64, 26), "确定");
    QPushButton *cancel = addButton(frame, "退出按钮", QRect(151, 85, 64, 26), "取消");
    confirm->setDefault(true);

    QObject::connect(confirm, &QPushButton::clicked, [] { submitPasswordChange(); });
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    oldPassword->setFocus();
    return dialog;
}

} // namespace

void submitPasswordChange()
{
    std::optional<std::string> current = loadStationPassword();
    if (!current) {
        host().showMessage(passwordFileUnreadableMessage);
        return;
    }
    if (typedPassword(change, "编辑框2") != *current) {
        host().showMessage("旧密码错误请重新输入");
        return;
    }
    if (!storeStationPassword(typedPassword(change, "编辑框1"))) {
        host().showMessage(passwordNotStoredMessage);
        return;
    }
    host().showMessage("密码修改成功");
    closeStationDialog(change);
}

void showPasswordChangeWindow()
{
    runStationDialog(createPasswordChangeWindow());
}

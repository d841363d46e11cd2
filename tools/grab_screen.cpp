// Saves a picture of the whole X screen as PNG: grab_screen <file.png>. Used by the end-to-end
// test to keep what the station showed at each step.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    return shot.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}

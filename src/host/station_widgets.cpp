#include "host/station_widgets.h"

#include "host/picture_decode.h"

#include <QMouseEvent>
#include <QPainter>

int stationKeyState(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ControlModifier ? 1 : 0) | (modifiers & Qt::ShiftModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

PhotoCanvas::PhotoCanvas(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    p.setColor(QPalette::WindowText, QColor(160, 160, 160));
    setPalette(p);
}

void PhotoCanvas::setPicture(const QImage &picture, QSize fullSize)
{
    picture_ = picture;
    fullSize_ = picture.isNull() ? QSize() : fullSize;
    scaled_ = QImage();
    ++serial_;
    update();
}

QRect PhotoCanvas::pictureRect() const
{
    if (picture_.isNull())
        return {};
    QRect inner = contentsRect();
    QSize drawn = placedPictureSize(fullSize_, inner.size());
    return QRect(inner.left() + (inner.width() - drawn.width()) / 2,
                 inner.top() + (inner.height() - drawn.height()) / 2, drawn.width(),
                 drawn.height());
}

void PhotoCanvas::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (picture_.isNull())
        return;
    QRect target = pictureRect();
    if (target.isEmpty())
        return;
    if (picture_.size() != target.size() && scaled_.size() != target.size())
        scaled_ = picture_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(this);
    painter.drawImage(target.topLeft(), picture_.size() == target.size() ? picture_ : scaled_);
}

void PhotoCanvas::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        QPoint p = event->position().toPoint() - contentsRect().topLeft();
        emit leftPressed(p.x(), p.y(), stationKeyState(event->modifiers()));
    }
    QFrame::mousePressEvent(event);
}

void PhotoCanvas::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        QPoint p = event->position().toPoint() - contentsRect().topLeft();
        emit rightReleased(p.x(), p.y(), stationKeyState(event->modifiers()));
    }
    QFrame::mouseReleaseEvent(event);
}

#pragma once
// The two controls of the station that standard Qt widgets do not provide: the photo canvas and
// a label with a feedback event (the receiver of the global hot keys).

#include <QFrame>
#include <QImage>
#include <QLabel>

// Draws one picture centred inside a one-pixel border on black; never enlarges it. Mouse
// positions it reports are relative to the inner top-left corner (inside the border).
class PhotoCanvas : public QFrame
{
    Q_OBJECT
  public:
    explicit PhotoCanvas(QWidget *parent = nullptr);
    // `picture` may be larger than it is drawn; `fullSize` is the upright photo's own size,
    // from which the drawn size is computed. A null picture clears the canvas to black.
    void setPicture(const QImage &picture, QSize fullSize);
    bool hasPicture() const { return !picture_.isNull(); }
    QSize pictureFullSize() const { return fullSize_; }
    QRect pictureRect() const; // where the picture is drawn, in widget coordinates
    // Counts pictures set, so waiting code can tell a new picture from the old one.
    quint64 pictureSerial() const { return serial_; }

  signals:
    void leftPressed(int x, int y, int keys);
    void rightReleased(int x, int y, int keys);

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

  private:
    QImage picture_;
    QImage scaled_;
    QSize fullSize_;
    quint64 serial_ = 0;
};

// A label that raises a feedback event; the host passes hot-key presses to it.
class FeedbackLabel : public QLabel
{
    Q_OBJECT
  public:
    using QLabel::QLabel;
    void raiseFeedback(int identifier, int extra) { emit feedback(identifier, extra); }

  signals:
    void feedback(int identifier, int extra);
};

// Modifier state of a mouse event as the station counts it: Ctrl 1, Shift 2, Alt 4.
int stationKeyState(Qt::KeyboardModifiers modifiers);

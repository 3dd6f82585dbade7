#include "Widgets.h"

#include <algorithm>

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QToolButton>

namespace melodrift {

ArrowStepper::ArrowStepper(QWidget* parent)
    : QWidget(parent), down_(new QToolButton(this)), up_(new QToolButton(this)) {
    down_->setArrowType(Qt::LeftArrow);
    up_->setArrowType(Qt::RightArrow);
    for (QToolButton* button : {down_, up_}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
    }
    connect(down_, &QToolButton::clicked, this, [this] { SetPosition(position_ - 1); });
    connect(up_, &QToolButton::clicked, this, [this] { SetPosition(position_ + 1); });
}

void ArrowStepper::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position_, minimum_, maximum_);
}

void ArrowStepper::SetPosition(int position) {
    const int clamped = std::clamp(position, minimum_, maximum_);
    if (clamped == position_) return;
    if (Changing) Changing(clamped);
    position_ = clamped;
}

void ArrowStepper::resizeEvent(QResizeEvent*) {
    const int half = width() / 2;
    down_->setGeometry(0, 0, half, height());
    up_->setGeometry(half, 0, width() - half, height());
}

DrawingSurface::DrawingSurface(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage AsQImage(RgbaImage& image) {
    if (image.width <= 0 || image.height <= 0) return QImage();
    return QImage(reinterpret_cast<uchar*>(image.pixels.data()), image.width, image.height,
                  qsizetype(image.width) * 4, QImage::Format_RGB32);
}

void DrawingSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Grey where the image does not reach (before the first layout).
    painter.fillRect(rect(), QColor(128, 128, 128));
    const QImage view = AsQImage(image_);
    if (!view.isNull()) painter.drawImage(0, 0, view);
}

void DrawingSurface::mousePressEvent(QMouseEvent* event) {
    if (MouseDown)
        MouseDown(event->button(), false, event->position().toPoint().x(),
                  event->position().toPoint().y());
}

void DrawingSurface::mouseDoubleClickEvent(QMouseEvent* event) {
    if (MouseDown)
        MouseDown(event->button(), true, event->position().toPoint().x(),
                  event->position().toPoint().y());
}

void DrawingSurface::mouseMoveEvent(QMouseEvent* event) {
    if (MouseMove) MouseMove(event->position().toPoint().x(), event->position().toPoint().y());
}

void DrawingSurface::mouseReleaseEvent(QMouseEvent* event) {
    if (MouseUp)
        MouseUp(event->button(), event->position().toPoint().x(), event->position().toPoint().y());
}

void DrawingSurface::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    const int delta = angle.y() != 0 ? angle.y() : angle.x();
    if (Wheel)
        Wheel(delta, (event->modifiers() & Qt::ControlModifier) != 0,
              event->position().toPoint().x());
    event->accept();
}

}  // namespace melodrift

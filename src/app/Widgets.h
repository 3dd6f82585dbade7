// The two controls that Qt has no ready-made widget for: the horizontal
// up-down of the zoom, and the drawing surface that shows the lanes.
#pragma once

#include <functional>

#include <QWidget>

#include "editor/Timeline.h"

class QToolButton;

namespace melodrift {

// Two arrow buttons side by side, holding a position within a range; the
// left arrow lowers it, the right arrow raises it. `Changing` runs with the
// new position before it is taken.
class ArrowStepper : public QWidget {
  public:
    explicit ArrowStepper(QWidget* parent = nullptr);

    void SetRange(int minimum, int maximum);
    // Clamped to the range; runs Changing when the position moves.
    void SetPosition(int position);
    int Position() const { return position_; }
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }

    std::function<void(int newPosition)> Changing;

    QToolButton* DownButton() const { return down_; }
    QToolButton* UpButton() const { return up_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    QToolButton* down_;
    QToolButton* up_;
};

// The drawing surface: shows one 32-bit image (the lanes) unscaled at its
// top-left corner, and hands every mouse event to the window as pixels.
class DrawingSurface : public QWidget {
  public:
    explicit DrawingSurface(QWidget* parent = nullptr);

    // The image drawn on the surface; the window paints into it directly.
    RgbaImage& Image() { return image_; }
    const RgbaImage& Image() const { return image_; }

    std::function<void(Qt::MouseButton button, bool doubleClick, int x, int y)> MouseDown;
    std::function<void(int x, int y)> MouseMove;
    std::function<void(Qt::MouseButton button, int x, int y)> MouseUp;
    // A wheel turn: angle in eighths of a degree (vertical, else horizontal),
    // whether Ctrl was held (zoom), and the pointer's column.
    std::function<void(int angleDelta, bool zoom, int x)> Wheel;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    RgbaImage image_;
};

// A view of an RgbaImage as a QImage over the same pixels (no copy); valid
// while the image is neither resized nor destroyed.
QImage AsQImage(RgbaImage& image);

}  // namespace melodrift

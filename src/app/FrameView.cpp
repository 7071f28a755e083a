#include "app/FrameView.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "frame/ViewState.h"

FrameViewWidget::FrameViewWidget(ViewState& view) : view_(view) {
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 120);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setMouseTracking(true);
}

void FrameViewWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor background = Qt::black;
  const uint8_t* pic = view_.PreparedPicture();
  if (!pic) {
    p.fillRect(rect(), background);
    return;
  }
  const FrameGeometry& g = view_.reader.framePool.geometry;
  QImage image(pic, g.width, g.height, static_cast<qsizetype>(g.stride), QImage::Format_BGR888);
  if (view_.fitToWindow) {
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.drawImage(QRect(0, 0, view_.viewWidth, view_.viewHeight), image);
    return;
  }
  int w, h;
  view_.ShownSize(&w, &h);
  int z = view_.zoom;
  QRect target(0, 0, w * z, h * z);
  // Outside the picture stays background.
  p.fillRect(QRect(target.right() + 1, 0, width(), height()), background);
  p.fillRect(QRect(0, target.bottom() + 1, width(), height()), background);
  p.drawImage(target, image, QRect(view_.sx, view_.sy, w, h));
}

void FrameViewWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  view_.SetViewArea(width(), height());
}

void FrameViewWidget::mouseMoveEvent(QMouseEvent* event) {
  QPoint pos = event->position().toPoint();
  view_.ShowPixelReadout(pos.x(), pos.y());
}

void FrameViewWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && view_.AlternatingFields()) view_.StopAlternatingFields();
  QWidget::mousePressEvent(event);
}

void FrameViewWidget::wheelEvent(QWheelEvent* event) {
  // The wheel scrolls a zoomed picture (Shift: sideways).
  int steps = event->angleDelta().y() / 120;
  if (!steps || view_.fitToWindow) return;
  int move = -steps * std::max(1, 16 / view_.zoom);
  if (event->modifiers() & Qt::ShiftModifier)
    view_.sx += move;
  else
    view_.sy += move;
  view_.ClampScroll();
  update();
}

// The picture area of the main window: paints what the view state prepared
// (zoomed, scrolled or fitted), reports the pixel under the mouse and stops
// the alternating field display on a left click.
#pragma once
#include <QWidget>

class ViewState;

class FrameViewWidget : public QWidget {
 public:
  explicit FrameViewWidget(ViewState& view);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  ViewState& view_;
};

// The picture area of the main window: paints what the view state prepared
// (zoomed, scrolled or fitted), reports the pixel under the mouse and stops
// the alternating field display on a left click.
#pragma once
#include <QWidget>

class FrameViewWidget : public QWidget {
 public:
  FrameViewWidget();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  bool clearNext_ = false;
};

// Registers the frame commands (steps, jumps, relative numbering, next null
// frame, view settings, the frame-number box and the scroll bar) and wires
// the frame reader and the view to the main window's controls.
class MainWindow;
void RegisterFrameCommands(MainWindow* window);
// After files were opened or closed: buffers for the new geometry, recount,
// frame 0 shown.
void FrameSetChanged();

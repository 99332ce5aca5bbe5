#pragma once
// TPictureView: the picture area of the main window. A scroll box holding the
// picture at a zoom: nearest-neighbour when magnified, so that single pixels
// can be inspected, smooth when reduced. "Fit" follows the size of the box.
// Only the view is zoomed; the picture itself is never touched.
#include <QImage>
#include <QScrollArea>

namespace velmora {

class TPictureView : public QScrollArea {
  Q_OBJECT
 public:
  explicit TPictureView(QWidget *parent = nullptr);

  // The control that shows the picture, at the zoomed size.
  QWidget *Canvas() const;

  // Shows a new picture (its size may differ); the zoom stays.
  void SetImage(QImage image);
  const QImage &Image() const { return Shown; }
  // Changes columns of the shown image in place, then shows them.
  QImage &ImageForChange() { return Shown; }
  void ColumnsChanged(int first, int end);
  // The picture rows that can be seen now: top .. bottom-1.
  void VisibleRows(int &top, int &bottom) const;

  static constexpr double MinZoom = 1.0 / 32, MaxZoom = 32;
  double Zoom() const { return ZoomFactor; }
  bool Fitting() const { return Fit; }
  // A zoom around a point of the visible area (its centre when none is given).
  void SetZoom(double zoom, QPoint anchor = QPoint(-1, -1));
  void ZoomIn(QPoint anchor = QPoint(-1, -1));
  void ZoomOut(QPoint anchor = QPoint(-1, -1));
  void ZoomToFit();

  // Ctrl+wheel zooms around `anchor` (a point of the visible area); false
  // for any other wheel, which scrolls.
  bool WheelZoom(QWheelEvent *event, QPoint anchor);

  // The picture pixel under a point of the canvas; false outside the picture.
  bool PixelAt(QPoint canvasPoint, int &x, int &y) const;
  // Tells PixelHovered again for a mouse over the view that has not moved
  // (the view scrolled or zoomed, or the picture changed under it).
  void RefreshHover();

 signals:
  void ZoomChanged();
  // The mouse is over pixel (x, y), or over no pixel when x < 0.
  void PixelHovered(int x, int y);

 protected:
  void resizeEvent(QResizeEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  class TCanvas;
  TCanvas *CanvasWidget;
  QImage Shown;
  double ZoomFactor = 1;
  bool Fit = false;
  void ApplyZoom(double zoom, QPoint anchor);
  void Hover(QPoint canvasPoint);
  double FitZoom() const;
};

}  // namespace velmora

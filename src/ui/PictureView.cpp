#include "ui/PictureView.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

namespace velmora {

namespace {

// The steps of zooming in and out; any other zoom (fit) moves to the next step.
constexpr std::array<double, 21> Steps = {1.0 / 32, 1.0 / 24, 1.0 / 16, 1.0 / 12, 1.0 / 8, 1.0 / 6, 1.0 / 4,
                                          1.0 / 3,  1.0 / 2,  2.0 / 3,  1,        3.0 / 2, 2,       3,
                                          4,        6,        8,        12,       16,      24,      32};

}  // namespace

class TPictureView::TCanvas : public QWidget {
 public:
  explicit TCanvas(TPictureView *view) : View(view) {
    setObjectName("Image");
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent *event) override {
    const QImage &image = View->Shown;
    if (image.isNull()) return;
    QPainter painter(this);
    const QRect area = event->rect();
    const double zoom = View->ZoomFactor;
    if (zoom == 1) {
      painter.drawImage(area.topLeft(), image, area);
      return;
    }
    // Whole source pixels only, so that magnified pixels keep their edges.
    const int x0 = std::max(0, static_cast<int>(std::floor(area.left() / zoom)));
    const int y0 = std::max(0, static_cast<int>(std::floor(area.top() / zoom)));
    const int x1 = std::min(image.width(), static_cast<int>(std::ceil((area.right() + 1) / zoom)));
    const int y1 = std::min(image.height(), static_cast<int>(std::ceil((area.bottom() + 1) / zoom)));
    if (x0 >= x1 || y0 >= y1) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom < 1);
    // The canvas is the zoomed size rounded up: the last column and row of
    // pixels reach its edge, or a strip of it would keep what was there before.
    const double right = x1 == image.width() ? width() : x1 * zoom;
    const double bottom = y1 == image.height() ? height() : y1 * zoom;
    painter.drawImage(QRectF(x0 * zoom, y0 * zoom, right - x0 * zoom, bottom - y0 * zoom), image,
                      QRectF(x0, y0, x1 - x0, y1 - y0));
  }
  void mouseMoveEvent(QMouseEvent *event) override {
    View->Hover(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
  }
  void wheelEvent(QWheelEvent *event) override {
    if (!View->WheelZoom(event, mapTo(View->viewport(), event->position().toPoint()))) event->ignore();
  }
  void leaveEvent(QEvent *event) override {
    emit View->PixelHovered(-1, -1);
    QWidget::leaveEvent(event);
  }

 private:
  TPictureView *View;
};

TPictureView::TPictureView(QWidget *parent) : QScrollArea(parent), CanvasWidget(new TCanvas(this)) {
  setObjectName("ImgScrollBox");
  setWidget(CanvasWidget);
  setWidgetResizable(false);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  viewport()->installEventFilter(this);
  for (QScrollBar *bar : {horizontalScrollBar(), verticalScrollBar()})
    connect(bar, &QScrollBar::valueChanged, this, [this] { RefreshHover(); });
}

QWidget *TPictureView::Canvas() const { return CanvasWidget; }

void TPictureView::Hover(QPoint canvasPoint) {
  int x, y;
  if (PixelAt(canvasPoint, x, y)) emit PixelHovered(x, y);
  else emit PixelHovered(-1, -1);
}

void TPictureView::RefreshHover() {
  // The picture moved or changed under a mouse that did not.
  const QPoint mouse = QCursor::pos();
  if (!isVisible() || !viewport()->rect().contains(viewport()->mapFromGlobal(mouse))) return;
  Hover(CanvasWidget->mapFromGlobal(mouse));
}

void TPictureView::SetImage(QImage image) {
  const bool resized = image.size() != Shown.size();
  Shown = std::move(image);
  if (resized) ApplyZoom(Fit ? FitZoom() : ZoomFactor, QPoint(-1, -1));
  CanvasWidget->update();
  RefreshHover();
}

void TPictureView::ColumnsChanged(int first, int end) {
  if (first >= end) return;
  const int left = static_cast<int>(std::floor(first * ZoomFactor)) - 1;
  const int right = static_cast<int>(std::ceil(end * ZoomFactor)) + 1;
  CanvasWidget->update(left, 0, right - left, CanvasWidget->height());
}

void TPictureView::VisibleRows(int &top, int &bottom) const {
  const int scrolled = verticalScrollBar()->value();
  top = std::max(0, static_cast<int>(std::floor(scrolled / ZoomFactor)) - 1);
  bottom = std::min(Shown.height(), static_cast<int>(std::ceil((scrolled + viewport()->height()) / ZoomFactor)) + 1);
}

void TPictureView::SetZoom(double zoom, QPoint anchor) {
  Fit = false;
  ApplyZoom(zoom, anchor);
}

void TPictureView::ZoomIn(QPoint anchor) {
  const auto next = std::upper_bound(Steps.begin(), Steps.end(), ZoomFactor * 1.0001);
  SetZoom(next == Steps.end() ? MaxZoom : *next, anchor);
}

void TPictureView::ZoomOut(QPoint anchor) {
  auto next = std::lower_bound(Steps.begin(), Steps.end(), ZoomFactor * 0.9999);
  SetZoom(next == Steps.begin() ? MinZoom : *(next - 1), anchor);
}

void TPictureView::ZoomToFit() {
  Fit = true;
  ApplyZoom(FitZoom(), QPoint(-1, -1));
}

double TPictureView::FitZoom() const {
  if (Shown.isNull()) return 1;
  const QSize room = maximumViewportSize();
  const double zoom = std::min(static_cast<double>(room.width()) / Shown.width(),
                               static_cast<double>(room.height()) / Shown.height());
  return std::clamp(zoom, MinZoom, MaxZoom);
}

void TPictureView::ApplyZoom(double zoom, QPoint anchor) {
  zoom = std::clamp(zoom, MinZoom, MaxZoom);
  const QSize room = viewport()->size();
  if (anchor.x() < 0) anchor = QPoint(room.width() / 2, room.height() / 2);
  // The picture point under the anchor stays under it.
  const double px = (horizontalScrollBar()->value() + anchor.x()) / ZoomFactor;
  const double py = (verticalScrollBar()->value() + anchor.y()) / ZoomFactor;
  const bool changed = zoom != ZoomFactor;
  ZoomFactor = zoom;
  const int width = std::max(1, static_cast<int>(std::ceil(Shown.width() * zoom - 1e-9)));
  const int height = std::max(1, static_cast<int>(std::ceil(Shown.height() * zoom - 1e-9)));
  CanvasWidget->setFixedSize(width, height);
  horizontalScrollBar()->setValue(static_cast<int>(std::lround(px * zoom - anchor.x())));
  verticalScrollBar()->setValue(static_cast<int>(std::lround(py * zoom - anchor.y())));
  CanvasWidget->update();
  if (changed) {
    emit ZoomChanged();
    RefreshHover();
  }
}

bool TPictureView::PixelAt(QPoint canvasPoint, int &x, int &y) const {
  x = static_cast<int>(std::floor(canvasPoint.x() / ZoomFactor));
  y = static_cast<int>(std::floor(canvasPoint.y() / ZoomFactor));
  return x >= 0 && y >= 0 && x < Shown.width() && y < Shown.height();
}

bool TPictureView::WheelZoom(QWheelEvent *event, QPoint anchor) {
  if (!(event->modifiers() & Qt::ControlModifier)) return false;
  if (event->angleDelta().y() > 0) ZoomIn(anchor);
  else if (event->angleDelta().y() < 0) ZoomOut(anchor);
  event->accept();
  return true;
}

bool TPictureView::eventFilter(QObject *watched, QEvent *event) {
  // Ctrl+wheel over the empty part of the box zooms as well.
  if (watched == viewport() && event->type() == QEvent::Wheel) {
    auto *wheel = static_cast<QWheelEvent *>(event);
    if (WheelZoom(wheel, wheel->position().toPoint())) return true;
  }
  return QScrollArea::eventFilter(watched, event);
}

void TPictureView::resizeEvent(QResizeEvent *event) {
  QScrollArea::resizeEvent(event);
  if (Fit) ApplyZoom(FitZoom(), QPoint(-1, -1));
}

}  // namespace velmora

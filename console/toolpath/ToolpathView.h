#pragma once
// The toolpath drawn with QPainter: the file's path at a level of detail that fits the
// screen, the work zero, the tool where the controller last reported it, and the rows a job
// has done drawn apart from those still to come. Views from the top, front, side and an
// oblique one that turns; the wheel zooms about the cursor, dragging pans, a right drag (or
// Ctrl with the left button) turns.

#include <QImage>
#include <QPointF>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "ToolpathModel.h"

class QPainter;

class TToolpathView : public QWidget {
public:
    enum class Facing { Top, Front, Side, Oblique };

    explicit TToolpathView(QWidget* parent = nullptr);

    void SetModel(std::shared_ptr<const toolpath::Model> model);
    const toolpath::Model* Model() const { return model_.get(); }
    // Grid rows 1..rows are done (0: none).
    void SetRowsDone(std::uint32_t rows);
    // The tool's work position, or none when unknown.
    void SetToolPosition(std::optional<std::array<double, 3>> position);
    const std::optional<std::array<double, 3>>& ToolPosition() const { return tool_; }

    void SetFacing(Facing facing);  // also fits the path
    void Fit();
    void ZoomAt(QPointF pixel, double factor);
    void Pan(QPointF pixels);
    void Turn(double yawDegrees, double pitchDegrees);

    // Where a point in mm lands on the widget, for the current view.
    QPointF Project(const std::array<double, 3>& p) const;
    double Scale() const { return scale_; }  // pixels per mm

    // Draws a frame onto any paint device of the widget's size (the widget's own paint
    // event, an image for a test or a benchmark). Returns the number of pieces drawn.
    std::size_t Draw(QPainter& painter, QSize size) const;

    static constexpr QRgb kBackground = 0xFFFFFFFF;
    static constexpr QRgb kFeed = 0xFF1F5FBF;
    static constexpr QRgb kRapid = 0xFFE08A00;
    static constexpr QRgb kDoneFeed = 0xFF2E9E3E;
    static constexpr QRgb kDoneRapid = 0xFF909090;
    static constexpr QRgb kTool = 0xFFD01010;

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The view's rotation: u and v are screen right and up, w points at the viewer.
    struct Axes {
        std::array<double, 3> u, v, w;
    };
    Axes Rotation() const;
    void DrawMarkers(QPainter& painter, QSize size, const Axes& r) const;

    std::shared_ptr<const toolpath::Model> model_;
    std::uint32_t rowsDone_ = 0;
    std::optional<std::array<double, 3>> tool_;
    double yaw_ = 0, pitch_ = 0;  // degrees
    double scale_ = 1;            // pixels per mm
    QPointF centre_;              // view (u, v) at the widget's centre, mm
    bool fitted_ = false;         // until the user zooms or pans, a resize fits again
    QPointF lastMouse_;
    // Pieces a pixel or two long are set straight into this picture: drawing each as a line
    // costs far more and shows nothing more.
    mutable QImage dots_;
    enum class Drag { None, Pan, Turn } drag_ = Drag::None;
};

#include "ui/Glyphs.h"

#include "ui/TesterPalette.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <numbers>

namespace vibrelle::ui {
namespace {

// Every glyph draws into a 24 × 24 box; paintGlyph scales it to the target rect.
constexpr double box = 24.0;

using Drawing = void (*)(QPainter &, const QColor &);

QPen strokePen(const QColor &color, double width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void fillOnly(QPainter &p, const QColor &color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
}

void strokeOnly(QPainter &p, const QColor &color, double width) {
    p.setPen(strokePen(color, width));
    p.setBrush(Qt::NoBrush);
}

void drawWaveform(QPainter &p, const QColor &c) {
    // Seven rounded bars, tallest in the middle, like a sound level meter.
    const double heights[] = {5, 10, 15, 20, 13, 8, 4};
    fillOnly(p, c);
    for (int i = 0; i < 7; ++i) {
        const double h = heights[i];
        const double x = 2.2 + i * 2.95;
        p.drawRoundedRect(QRectF(x, 12 - h / 2, 1.9, h), 0.95, 0.95);
    }
}

void drawWaveformPath(QPainter &p, const QColor &c) {
    // A sine whose amplitude swells towards the middle.
    QPainterPath path;
    constexpr int steps = 96;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        const double x = 2 + 20 * t;
        const double envelope = std::sin(std::numbers::pi * t);
        const double y = 12 - 8.5 * envelope * std::sin(2 * std::numbers::pi * 3 * t);
        if (i == 0) {
            path.moveTo(x, y);
        } else {
            path.lineTo(x, y);
        }
    }
    strokeOnly(p, c, 2.0);
    p.drawPath(path);
}

void drawWaveformEcg(QPainter &p, const QColor &c) {
    QPainterPath path;
    path.moveTo(1.5, 13);
    path.lineTo(6, 13);
    path.lineTo(8, 10);
    path.lineTo(10, 13);
    path.lineTo(11.5, 13);
    path.lineTo(13.5, 3.5);
    path.lineTo(15.5, 20.5);
    path.lineTo(17.5, 13);
    path.lineTo(22.5, 13);
    strokeOnly(p, c, 2.0);
    p.drawPath(path);
}

void drawCircleCircle(QPainter &p, const QColor &c) {
    strokeOnly(p, c, 1.9);
    p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
    p.drawEllipse(QPointF(12, 12), 5, 5);
}

void drawArrowUpRightSquare(QPainter &p, const QColor &c) {
    strokeOnly(p, c, 1.8);
    p.drawRoundedRect(QRectF(3, 3, 18, 18), 4, 4);
    p.drawLine(QPointF(8.5, 15.5), QPointF(15.5, 8.5));
    QPainterPath head;
    head.moveTo(10, 8.5);
    head.lineTo(15.5, 8.5);
    head.lineTo(15.5, 14);
    p.drawPath(head);
}

void drawPauseFill(QPainter &p, const QColor &c) {
    fillOnly(p, c);
    p.drawRoundedRect(QRectF(5.5, 4, 4.5, 16), 1.3, 1.3);
    p.drawRoundedRect(QRectF(14, 4, 4.5, 16), 1.3, 1.3);
}

void drawPlayFill(QPainter &p, const QColor &c) {
    QPainterPath path;
    path.moveTo(7, 4.5);
    path.lineTo(19.5, 12);
    path.lineTo(7, 19.5);
    path.closeSubpath();
    p.setPen(strokePen(c, 2.0));
    p.setBrush(c);
    p.drawPath(path);
}

void drawStopFill(QPainter &p, const QColor &c) {
    fillOnly(p, c);
    p.drawRoundedRect(QRectF(5, 5, 14, 14), 2.5, 2.5);
}

void drawChevronUp(QPainter &p, const QColor &c) {
    strokeOnly(p, c, 2.4);
    p.drawPolyline(QPolygonF({QPointF(5, 15.5), QPointF(12, 8.5), QPointF(19, 15.5)}));
}

void drawChevronDown(QPainter &p, const QColor &c) {
    strokeOnly(p, c, 2.4);
    p.drawPolyline(QPolygonF({QPointF(5, 8.5), QPointF(12, 15.5), QPointF(19, 8.5)}));
}

void drawSpeakerSlash(QPainter &p, const QColor &c) {
    const QLineF slash(QPointF(3, 3), QPointF(21, 21));
    // Keep a gap around the slash so it reads over the speaker.
    QPainterPath slashPath;
    slashPath.moveTo(slash.p1());
    slashPath.lineTo(slash.p2());
    QPainterPathStroker stroker;
    stroker.setWidth(4.4);
    stroker.setCapStyle(Qt::RoundCap);
    QPainterPath outside;
    outside.addRect(QRectF(-1, -1, box + 2, box + 2));
    p.save();
    p.setClipPath(outside.subtracted(stroker.createStroke(slashPath)));
    QPainterPath speaker;
    speaker.moveTo(3, 9);
    speaker.lineTo(7, 9);
    speaker.lineTo(12.5, 4);
    speaker.lineTo(12.5, 20);
    speaker.lineTo(7, 15);
    speaker.lineTo(3, 15);
    speaker.closeSubpath();
    p.setPen(strokePen(c, 1.2));
    p.setBrush(c);
    p.drawPath(speaker);
    strokeOnly(p, c, 1.8);
    p.drawArc(QRectF(10.5, 8, 8, 8), -50 * 16, 100 * 16);
    p.restore();
    strokeOnly(p, c, 1.8);
    p.drawLine(slash);
}

QPainterPath fingerHand() {
    // A hand pointing up with the index finger: finger capsule joined to a palm.
    QPainterPath finger;
    finger.addRoundedRect(QRectF(9.2, 7.5, 4.2, 10), 2.1, 2.1);
    QPainterPath palm;
    palm.addRoundedRect(QRectF(7, 13, 11.5, 9.5), 3.6, 3.6);
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(4.3, 14.2, 4.4, 6.2), 2.2, 2.2);
    return finger.united(palm).united(thumb);
}

void drawHandTap(QPainter &p, const QColor &c) {
    fillOnly(p, c);
    p.drawPath(fingerHand());
    // Ripples around the fingertip.
    strokeOnly(p, c, 1.5);
    p.drawArc(QRectF(6.3, 2.3, 10, 10), 30 * 16, 120 * 16);
    p.drawArc(QRectF(3.3, -0.7, 16, 16), 40 * 16, 100 * 16);
}

void drawHandDraw(QPainter &p, const QColor &c) {
    fillOnly(p, c);
    p.save();
    p.translate(3, 0);
    p.drawPath(fingerHand());
    p.restore();
    // The trail the fingertip has drawn.
    QPainterPath trail;
    trail.moveTo(1.5, 11);
    trail.cubicTo(3, 3, 7, 3, 7.5, 7);
    trail.cubicTo(8, 10, 10, 9.5, 13.5, 7.8);
    strokeOnly(p, c, 1.6);
    p.drawPath(trail);
}

const QHash<QString, Drawing> &table() {
    static const QHash<QString, Drawing> drawings{
        {QStringLiteral("waveform"), drawWaveform},
        {QStringLiteral("waveform.path"), drawWaveformPath},
        {QStringLiteral("waveform.path.ecg"), drawWaveformEcg},
        {QStringLiteral("circle.circle"), drawCircleCircle},
        {QStringLiteral("arrow.up.right.square"), drawArrowUpRightSquare},
        {QStringLiteral("pause.fill"), drawPauseFill},
        {QStringLiteral("play.fill"), drawPlayFill},
        {QStringLiteral("stop.fill"), drawStopFill},
        {QStringLiteral("chevron.up"), drawChevronUp},
        {QStringLiteral("chevron.down"), drawChevronDown},
        {QStringLiteral("speaker.slash"), drawSpeakerSlash},
        {QStringLiteral("hand.tap"), drawHandTap},
        {QStringLiteral("hand.draw"), drawHandDraw},
    };
    return drawings;
}

class GlyphEngine final : public QIconEngine {
public:
    GlyphEngine(QString name, QColor color)
        : m_name(std::move(name))
        , m_color(color) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        paintGlyph(*painter, rect, m_name, colorFor(mode));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        QPixmap pixmap(size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintGlyph(painter, QRectF(QPointF(0, 0), QSizeF(size)), m_name, colorFor(mode));
        return pixmap;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new GlyphEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("vibrelle.glyph"); }
    QString iconName() override { return m_name; }
    bool isNull() override { return !hasGlyph(m_name); }

private:
    QColor colorFor(QIcon::Mode mode) const {
        QColor color = m_color;
        if (mode == QIcon::Disabled) {
            color.setAlphaF(color.alphaF() * 0.4f);
        }
        return color;
    }

    QString m_name;
    QColor m_color;
};

// The application's icon, drawn at the size it is asked for: only the sizes the platform
// wants are ever drawn.
class ApplicationIconEngine final : public QIconEngine {
public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override {
        const double side = std::min(rect.width(), rect.height());
        const QPointF centre = QRectF(rect).center();
        const QRectF tile(centre.x() - side / 2, centre.y() - side / 2, side, side);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(TesterPalette::violet());
        const double radius = side * 11.0 / 36.0;
        painter->drawRoundedRect(tile, radius, radius);
        const double inset = side * 7.5 / 36.0;
        paintGlyph(*painter, tile.adjusted(inset, inset, -inset, -inset), QStringLiteral("waveform.path"),
                   Qt::white);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new ApplicationIconEngine; }
    QString key() const override { return QStringLiteral("vibrelle.application"); }
};

} // namespace

QIcon glyph(const QString &symbolName, const QColor &color) {
    return QIcon(new GlyphEngine(symbolName, color));
}

void paintGlyph(QPainter &painter, const QRectF &rect, const QString &symbolName, const QColor &color) {
    const auto drawing = table().value(symbolName);
    if (!drawing || rect.isEmpty()) {
        return;
    }
    const double side = std::min(rect.width(), rect.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / box, side / box);
    drawing(painter, color);
    painter.restore();
}

QIcon applicationIcon() {
    return QIcon(new ApplicationIconEngine);
}

bool hasGlyph(const QString &symbolName) {
    return table().contains(symbolName);
}

QStringList glyphNames() {
    QStringList names = table().keys();
    names.sort();
    return names;
}

} // namespace vibrelle::ui

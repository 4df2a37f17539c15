#include "SimView.h"

#include "StripGeometry.h"
#include "ui/BuildingBlocks.h"
#include "ui/TesterPalette.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

namespace vibrelle::sim {

using ui::TesterPalette;

namespace {

QString seconds(double ms) {
    return QLocale().toString(qMax(0.0, ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QLabel *label(const QString &name, int pixelSize, QFont::Weight weight, ui::Tone tone, QWidget *parent) {
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    ui::setDesignFont(l, pixelSize, weight);
    ui::setTone(l, tone);
    return l;
}

QString modeTitle(const QString &mode) {
    if (mode == QLatin1String("controlled"))
        return QStringLiteral("Controllata");
    if (mode == QLatin1String("timed"))
        return QStringLiteral("Temporizzata");
    return QStringLiteral("Gesto");
}

QString faultText(const QJsonObject &f) {
    const QString path = f.value(QLatin1String("path")).toString();
    QStringList what;
    if (const int latency = f.value(QLatin1String("latencyMs")).toInt(); latency > 0)
        what << QStringLiteral("+%1 ms").arg(latency);
    const int status = f.value(QLatin1String("status")).toInt();
    const QString stall = f.value(QLatin1String("stall")).toString();
    if (stall == QLatin1String("never"))
        what << QStringLiteral("non risponde mai");
    else if (stall == QLatin1String("headers"))
        what << QStringLiteral("solo intestazioni %1").arg(status);
    else if (f.contains(QLatin1String("redirect")))
        what << QStringLiteral("%1 verso %2").arg(status).arg(f.value(QLatin1String("redirect")).toString());
    else if (f.contains(QLatin1String("close")))
        what << QStringLiteral("chiude la connessione");
    else if (f.contains(QLatin1String("body")))
        what
            << QStringLiteral("%1 con corpo «%2»").arg(status).arg(f.value(QLatin1String("body")).toString());
    else if (status > 0)
        what << QStringLiteral("%1 «%2»").arg(status).arg(f.value(QLatin1String("error")).toString());
    if (const int times = f.value(QLatin1String("times")).toInt(); times > 0)
        what << (times == 1 ? QStringLiteral("ancora 1 volta")
                            : QStringLiteral("ancora %1 volte").arg(times));
    return (path.isEmpty() ? QStringLiteral("ogni percorso") : path) + QStringLiteral(" · ") +
           what.join(QStringLiteral(", "));
}

// The part of the lease bar filled, and the text under it.
std::pair<double, QString> leaseReading(const SimView::Source &source) {
    const PlayTrack &track = *source.track;
    const double now = source.nowMs();
    if (const std::optional<double> left = track.leaseLeft(now))
        return {*left,
                QStringLiteral("%1 di %2").arg(seconds(*left * track.leaseMs()), seconds(track.leaseMs()))};
    if (const PlayTrack::Resonance *run = track.resonance()) { // timed: no lease, a deadline
        const double durationMs = run->target().durationMs;
        const double leftMs = run->startMs + durationMs - now;
        return {durationMs > 0 ? qBound(0.0, leftMs / durationMs, 1.0) : 0.0,
                QStringLiteral("nessun lease · fine tra %1").arg(seconds(leftMs))};
    }
    if (track.leaseExpired())
        return {0.0, QStringLiteral("lease scaduto")};
    return {0.0, QStringLiteral("nessun effetto in corso")};
}

// Paints the strip pixel by pixel into an opaque image. QPainter's fills hand every shape taller
// than about a hundred rows to a thread pool and wait for it; a frame of the strip has hundreds of
// such shapes, which cost more than the whole frame does here.
class StripCanvas {
public:
    StripCanvas(QImage &image, const QColor &background)
        : m_image(image) {
        m_image.fill(background);
        m_bits = m_image.bits();
        m_stride = m_image.bytesPerLine();
    }

    // Blends `color` at `alpha` over the rows [top, bottom) of the columns [left, right).
    void tint(double left, double right, double top, double bottom, const QColor &color, double alpha) {
        const QRgb c = color.rgb();
        alpha *= color.alphaF();
        for (int x = qMax(0, int(left)); x < qMin(m_image.width(), int(std::ceil(right))); ++x)
            for (int y = qMax(0, int(top)); y < qMin(m_image.height(), int(std::ceil(bottom))); ++y)
                blend(x, y, c, alpha);
    }

    // Fills between a trace (a polyline whose x never decreases) and the baseline, and draws the
    // flat parts of the trace (the tops) about a pixel thick; each pixel is covered in proportion
    // to the part of its row's middle line that lies inside.
    void profile(const QList<QPointF> &trace, double baseline, const QColor &fill, double fillAlpha,
                 const QColor &edge) {
        struct Piece { // a sloping stretch of the trace within one column
            double x0, x1, y0, y1;
            // How much of it lies at or above (y <= c) the height c.
            double above(double c) const {
                if (y0 == y1)
                    return y0 <= c ? x1 - x0 : 0;
                const double s = qBound(0.0, (c - y0) / (y1 - y0), 1.0);
                return (y1 > y0 ? s : 1 - s) * (x1 - x0);
            }
        };
        const QRgb fillRgb = fill.rgb(), edgeRgb = edge.rgb();
        fillAlpha *= fill.alphaF();
        const int rows = m_image.height();
        qsizetype first = 0;
        for (int x = qMax(0, int(trace.first().x()));
             x < qMin(m_image.width(), int(std::ceil(trace.last().x()))); ++x) {
            while (first + 2 < trace.size() && trace[first + 1].x() <= x)
                ++first;
            QVarLengthArray<Piece, 8> pieces;
            double top = baseline, bottom = baseline, lowestTop = -1e9;
            for (qsizetype i = first; i + 1 < trace.size() && trace[i].x() < x + 1; ++i) {
                const QPointF a = trace[i], b = trace[i + 1];
                const double x0 = qMax(a.x(), double(x)), x1 = qMin(b.x(), x + 1.0);
                if (b.x() <= a.x() || x1 <= x0)
                    continue;
                const auto yAt = [&](double t) {
                    return a.y() + (b.y() - a.y()) * (t - a.x()) / (b.x() - a.x());
                };
                const Piece piece{x0, x1, yAt(x0), yAt(x1)};
                pieces.append(piece);
                top = std::min({top, piece.y0, piece.y1});
                bottom = std::max({bottom, piece.y0, piece.y1});
                lowestTop = std::max({lowestTop, piece.y0, piece.y1});
            }
            if (top == bottom)
                continue; // nothing here but the baseline
            // Below the lowest point of a column whose trace stays above the baseline, every row is
            // covered alike.
            const int solidFrom =
                bottom > baseline || lowestTop >= baseline ? rows : int(std::ceil(lowestTop));
            double solidCover = 0;
            for (const Piece &piece : pieces)
                solidCover += piece.x1 - piece.x0;
            for (int y = qMax(0, int(top) - 1); y < qMin(rows, int(std::ceil(bottom)) + 1); ++y) {
                if (y >= solidFrom && y + 1 <= baseline) {
                    blend(x, y, fillRgb, fillAlpha * solidCover);
                    continue;
                }
                const double c = y + 0.5;
                double inside = 0, onEdge = 0;
                for (const Piece &piece : pieces) {
                    inside += c <= baseline ? piece.above(c) : (piece.x1 - piece.x0) - piece.above(c);
                    const bool flat = std::abs(piece.y1 - piece.y0) < 2 * (piece.x1 - piece.x0);
                    if (flat && (piece.y0 != baseline || piece.y1 != baseline))
                        onEdge += piece.above(c + 0.6) - piece.above(c - 0.6);
                }
                if (inside > 0)
                    blend(x, y, fillRgb, fillAlpha * qMin(1.0, inside));
                if (onEdge > 0)
                    blend(x, y, edgeRgb, edge.alphaF() * qMin(1.0, onEdge));
            }
        }
    }

private:
    void blend(int x, int y, QRgb c, double alpha) {
        QRgb &pixel = reinterpret_cast<QRgb *>(m_bits + y * m_stride)[x];
        const int a = int(alpha * 256 + 0.5);
        const auto mix = [a](int d, int s) { return d + (((s - d) * a) >> 8); };
        pixel = qRgb(mix(qRed(pixel), qRed(c)), mix(qGreen(pixel), qGreen(c)), mix(qBlue(pixel), qBlue(c)));
    }

    QImage &m_image;
    uchar *m_bits = nullptr;
    qsizetype m_stride = 0;
};

// The last five seconds of pulses, now at the right edge.
class Strip : public QWidget {
public:
    Strip(SimView::Source *source, QWidget *parent)
        : QWidget(parent)
        , m_source(source) {
        setObjectName(QStringLiteral("sim.strip"));
        setMinimumHeight(150);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        const double ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(size()) * ratio).toSize();
        if (m_image.size() != pixels)
            m_image = QImage(pixels, QImage::Format_RGB32);
        const QPalette &pal = palette();
        const QColor violet = TesterPalette::violet();
        const StripGeometry g = StripGeometry::of(*m_source->track, m_source->nowMs(), pixels);
        const double markBand = StripGeometry::markBand;

        StripCanvas canvas(m_image, pal.color(QPalette::Base));
        for (int s = 1; s < 5; ++s)
            canvas.tint(pixels.width() * s / 5.0, pixels.width() * s / 5.0 + ratio, g.top, g.baseline,
                        pal.color(QPalette::WindowText), 0.08);
        for (const auto &[from, to] : g.pauses)
            canvas.tint(from, to, g.top, g.baseline, violet, 0.08);
        canvas.profile(g.trace, g.baseline, violet, 0.65, violet);
        for (const QList<QPointF> &outline : g.impulses)
            canvas.profile(outline, g.baseline, violet, 0.75, violet.darker(130));
        canvas.tint(0, pixels.width(), g.baseline, g.baseline + ratio, TesterPalette::tertiary(pal), 1);
        for (const StripGeometry::Mark &mark : g.marks)
            canvas.tint(mark.x - ratio, mark.x + ratio, 2, 2 + markBand,
                        mark.failed ? TesterPalette::failure(pal) : TesterPalette::secondary(pal), 1);

        m_image.setDevicePixelRatio(ratio);
        QPainter p(this);
        p.drawImage(0, 0, m_image);
        p.setFont(ui::designFont(10));
        p.setPen(TesterPalette::tertiary(pal));
        for (const auto &[from, to] : g.pauses) {
            if (to - from > 40 * ratio)
                p.drawText(QRectF(from / ratio + 4, g.top / ratio, (to - from) / ratio - 4, 14),
                           Qt::AlignLeft | Qt::AlignTop, QStringLiteral("pausa"));
        }
    }

private:
    SimView::Source *m_source;
    QImage m_image;
};

} // namespace

// The lease: a bar that empties over --lease-ms and fills again at every renewal.
class LeaseBar : public QWidget {
public:
    explicit LeaseBar(QWidget *parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("sim.lease"));
        setFixedHeight(11);
    }

    // Repaints only when the filled part grows or shrinks by a pixel.
    void setFraction(double fraction) {
        if (qRound(fraction * width()) != qRound(m_fraction * width()))
            update();
        m_fraction = fraction;
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF bar(0.5, 0.5, width() - 1.0, 10);
        QPainterPath track;
        track.addRoundedRect(bar, 5, 5);
        p.fillPath(track, TesterPalette::withAlpha(palette().color(QPalette::WindowText), 0.1));
        if (m_fraction > 0) {
            QPainterPath fill;
            fill.addRoundedRect(QRectF(bar.topLeft(), QSizeF(bar.width() * m_fraction, bar.height())), 5, 5);
            p.fillPath(fill, TesterPalette::violet());
        }
    }

private:
    double m_fraction = 0;
};

namespace {

// A panel with a title over its content; `fill`: the content takes the panel's spare height.
QWidget *titled(const QString &title, QWidget *content, QWidget *parent, bool fill = false) {
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    QLabel *heading = label({}, 13, QFont::DemiBold, ui::Tone::primary, box);
    heading->setText(title);
    layout->addWidget(heading);
    layout->addWidget(content, fill ? 1 : 0);
    if (!fill)
        layout->addStretch();
    return ui::panel(box, parent);
}

} // namespace

QString styleTitle(const QString &style) {
    if (style == QLatin1String("crisp"))
        return QStringLiteral("Secco");
    if (style == QLatin1String("soft"))
        return QStringLiteral("Morbido");
    return QStringLiteral("Naturale");
}

SimView::SimView(Source source, QWidget *parent)
    : QWidget(parent)
    , m_source(std::move(source)) {
    setObjectName(QStringLiteral("sim.window"));
    setWindowTitle(QStringLiteral("Vibrelle · servizio simulato"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, TesterPalette::canvas(pal));
    setPalette(pal);
    resize(620, 580);
    setMinimumSize(520, 500);

    m_frames.setInterval(frameMs);
    connect(&m_frames, &QTimer::timeout, this, &SimView::tick);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 20);
    layout->setSpacing(14);

    auto *header = new QHBoxLayout;
    QLabel *title = label(QStringLiteral("sim.title"), 17, QFont::DemiBold, ui::Tone::primary, this);
    title->setText(QStringLiteral("Servizio simulato"));
    QLabel *address = label(QStringLiteral("sim.address"), 12, QFont::Normal, ui::Tone::secondary, this);
    address->setText(
        QStringLiteral("127.0.0.1:%1 · lease %2 ms").arg(m_source.port).arg(m_source.track->leaseMs()));
    header->addWidget(title);
    header->addStretch();
    header->addWidget(address);
    layout->addLayout(header);

    auto *stripBox = new QWidget(this);
    auto *stripLayout = new QVBoxLayout(stripBox);
    stripLayout->setContentsMargins(0, 0, 0, 0);
    stripLayout->setSpacing(4);
    m_strip = new Strip(&m_source, stripBox);
    stripLayout->addWidget(m_strip);
    auto *axis = new QHBoxLayout;
    for (const QString &text : {QStringLiteral("5 s fa"), QStringLiteral("ora")}) {
        QLabel *tick = label({}, 11, QFont::Normal, ui::Tone::tertiary, stripBox);
        tick->setText(text);
        axis->addWidget(tick);
        if (text != QLatin1String("ora"))
            axis->addStretch();
    }
    stripLayout->addLayout(axis);
    layout->addWidget(titled(QStringLiteral("Trackpad · ultimi 5 secondi"), stripBox, this, true), 1);

    auto *now = new QWidget(this);
    auto *nowLayout = new QVBoxLayout(now);
    nowLayout->setContentsMargins(0, 0, 0, 0);
    nowLayout->setSpacing(6);
    auto *effectRow = new QHBoxLayout;
    m_effect = label(QStringLiteral("sim.effect"), 15, QFont::DemiBold, ui::Tone::primary, now);
    m_state = label(QStringLiteral("sim.state"), 12, QFont::DemiBold, ui::Tone::accent, now);
    effectRow->addWidget(m_effect);
    effectRow->addStretch();
    effectRow->addWidget(m_state);
    nowLayout->addLayout(effectRow);
    m_client = label(QStringLiteral("sim.client"), 12, QFont::Normal, ui::Tone::secondary, now);
    nowLayout->addWidget(m_client);
    auto *params = new QGridLayout;
    params->setHorizontalSpacing(16);
    params->setVerticalSpacing(4);
    for (int i = 0; i < paramRows; ++i) {
        m_paramNames[i] = label({}, 12, QFont::Normal, ui::Tone::secondary, now);
        m_paramValues[i] = label({}, 12, QFont::DemiBold, ui::Tone::primary, now);
        params->addWidget(m_paramNames[i], i / 2, (i % 2) * 2);
        params->addWidget(m_paramValues[i], i / 2, (i % 2) * 2 + 1);
    }
    params->setColumnStretch(1, 1);
    params->setColumnStretch(3, 1);
    nowLayout->addLayout(params);

    auto *lease = new QWidget(this);
    auto *leaseLayout = new QVBoxLayout(lease);
    leaseLayout->setContentsMargins(0, 0, 0, 0);
    leaseLayout->setSpacing(6);
    m_lease = new LeaseBar(lease);
    m_leaseText = label(QStringLiteral("sim.lease.text"), 12, QFont::Normal, ui::Tone::secondary, lease);
    leaseLayout->addWidget(m_lease);
    leaseLayout->addWidget(m_leaseText);
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(titled(QStringLiteral("In riproduzione"), now, this), 3);
    row->addWidget(titled(QStringLiteral("Lease"), lease, this), 2);
    layout->addLayout(row);
    m_faults = label(QStringLiteral("sim.faults"), 12, QFont::Normal, ui::Tone::secondary, this);
    layout->addWidget(titled(QStringLiteral("Guasti in vigore"), m_faults, this));

    refreshTexts();
    refreshFaults();
    tick();
}

std::pair<double, QString> SimView::leaseReading() const {
    return sim::leaseReading(m_source);
}

void SimView::follow(const QString &event, const QJsonObject &fields) {
    if (event == QLatin1String("faults") || fields.contains(QLatin1String("fault")))
        refreshFaults();
    if (event != QLatin1String("request"))
        refreshTexts();
    tick();
}

void SimView::tick() {
    const PlayTrack &track = *m_source.track;
    const double now = m_source.nowMs();
    m_strip->update();
    const auto [fraction, text] = leaseReading();
    m_lease->setFraction(fraction);
    if (m_leaseText->text() != text) {
        const bool expired = track.leaseExpired() && !track.resonance();
        m_leaseText->setText(text);
        ui::setDesignFont(m_leaseText, 12, expired ? QFont::DemiBold : QFont::Normal);
        ui::setTone(m_leaseText, expired ? ui::Tone::failure : ui::Tone::secondary);
    }
    if (track.resonance() || now < track.lastActivityMs() + StripGeometry::spanMs) {
        if (!m_frames.isActive())
            m_frames.start();
    } else {
        m_frames.stop();
    }
}

void SimView::refreshTexts() {
    const PlayTrack &track = *m_source.track;
    struct Row {
        const char *key;
        QString title;
        QString value;
    };
    QList<Row> rows;
    const auto percent = [](double v) { return ui::percentageText(v); };
    if (const PlayTrack::Resonance *run = track.resonance()) {
        const ResonanceParams p = run->target();
        m_effect->setText(QStringLiteral("Risonanza ") + modeTitle(run->mode).toLower());
        m_state->setText(run->paused() ? QStringLiteral("In pausa") : QStringLiteral("In corso"));
        m_client->setText(QStringLiteral("Client · ") + run->client);
        rows.append({"intensity", QStringLiteral("Intensità"), percent(p.intensity)});
        if (run->mode == QLatin1String("controlled")) {
            rows.append({"pulseRateHz", QStringLiteral("Cadenza"),
                         ui::numberText(p.pulseRateHz, QStringLiteral("imp/s"))});
            rows.append({"sharpness", QStringLiteral("Nitidezza"), percent(p.sharpness)});
            rows.append({"transitionMs", QStringLiteral("Transizione"),
                         ui::numberText(p.transitionMs, QStringLiteral("ms"))});
        } else {
            rows.append({"fineness", QStringLiteral("Finezza"), percent(p.fineness)});
            if (run->mode == QLatin1String("timed"))
                rows.append({"durationMs", QStringLiteral("Durata"),
                             ui::numberText(p.durationMs, QStringLiteral("ms"))});
            else
                rows.append({"reactivity", QStringLiteral("Reattività"), percent(p.reactivity)});
        }
    } else if (const auto &transient = track.transient()) {
        const QJsonObject &params = transient->params;
        const bool single = transient->kind == QLatin1String("impulse");
        m_effect->setText(single ? QStringLiteral("Impulso") : QStringLiteral("Sequenza"));
        m_state->setText(QStringLiteral("In corso"));
        m_client->setText(QStringLiteral("Client · ") + transient->client);
        if (single) {
            rows.append({"style", QStringLiteral("Stile"),
                         styleTitle(params.value(QLatin1String("style")).toString())});
            rows.append({"intensity", QStringLiteral("Intensità"),
                         percent(params.value(QLatin1String("intensity")).toDouble())});
        } else {
            rows.append({"steps", QStringLiteral("Impulsi"),
                         QString::number(params.value(QLatin1String("steps")).toInt())});
            rows.append(
                {"durationMs", QStringLiteral("Durata"),
                 ui::numberText(params.value(QLatin1String("durationMs")).toDouble(), QStringLiteral("ms"))});
        }
    } else {
        m_effect->setText(QStringLiteral("Nessun effetto"));
        m_state->setText(QStringLiteral("Fermo"));
        m_client->setText(track.leaseExpired() ? QStringLiteral("L'ultimo effetto è finito: lease scaduto.")
                                               : QStringLiteral("In attesa di richieste."));
    }
    for (int i = 0; i < paramRows; ++i) {
        const bool shown = i < rows.size();
        m_paramNames[i]->setVisible(shown);
        m_paramValues[i]->setVisible(shown);
        if (!shown)
            continue;
        m_paramNames[i]->setText(rows.at(i).title);
        m_paramValues[i]->setText(rows.at(i).value);
        m_paramValues[i]->setObjectName(QStringLiteral("sim.param.") + QLatin1String(rows.at(i).key));
    }
}

void SimView::refreshFaults() {
    QStringList lines;
    if (m_source.latencyMs > 0)
        lines << QStringLiteral("ogni percorso · +%1 ms (--latency-ms)").arg(m_source.latencyMs);
    for (const QJsonValue &fault : m_source.faults ? m_source.faults() : QJsonArray())
        lines << faultText(fault.toObject());
    m_faults->setText(lines.isEmpty() ? QStringLiteral("Nessuno") : lines.join(u'\n'));
}

void SimView::closeEvent(QCloseEvent *event) {
    event->accept();
    Q_EMIT closed();
}

} // namespace vibrelle::sim

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

// The last five seconds of pulses, now at the right edge.
class Strip : public QWidget {
public:
    Strip(SimView::Source *source, QWidget *parent)
        : QWidget(parent)
        , m_source(source) {
        setObjectName(QStringLiteral("sim.strip"));
        setMinimumHeight(150);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        const QPalette &pal = palette();
        const QColor violet = TesterPalette::violet();
        p.fillRect(rect(), pal.color(QPalette::Base));
        const StripGeometry g = StripGeometry::of(*m_source->track, m_source->nowMs(), size());

        const QColor grid = TesterPalette::withAlpha(pal.color(QPalette::WindowText), 0.08);
        for (int s = 1; s < 5; ++s) {
            const double x = width() * s / 5.0;
            p.fillRect(QRectF(x, g.top, 1, g.baseline - g.top), grid);
        }
        p.setFont(ui::designFont(10));
        for (const auto &[from, to] : g.pauses) {
            p.fillRect(QRectF(from, g.top, to - from, g.baseline - g.top),
                       TesterPalette::withAlpha(violet, 0.08));
            if (to - from > 40) {
                p.setPen(TesterPalette::tertiary(pal));
                p.drawText(QRectF(from + 4, g.top, to - from - 4, 14), Qt::AlignLeft | Qt::AlignTop,
                           QStringLiteral("pausa"));
            }
        }
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(violet, 1.2));
        p.setBrush(TesterPalette::withAlpha(violet, 0.3));
        p.drawPolygon(g.trace.constData(), int(g.trace.size()));
        p.setBrush(TesterPalette::withAlpha(violet, 0.75));
        p.setPen(QPen(violet.darker(130), 1.2));
        for (const QList<QPointF> &outline : g.impulses)
            p.drawPolygon(outline.constData(), int(outline.size()));
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(TesterPalette::tertiary(pal), 1));
        p.drawLine(QPointF(0, g.baseline), QPointF(width(), g.baseline));
        for (const StripGeometry::Mark &mark : g.marks)
            p.fillRect(QRectF(mark.x - 1, 2, 2, StripGeometry::markBand),
                       mark.failed ? TesterPalette::failure(pal) : TesterPalette::secondary(pal));
    }

private:
    SimView::Source *m_source;
};

// The lease: a bar that empties over --lease-ms and fills again at every renewal.
class LeaseBar : public QWidget {
public:
    LeaseBar(SimView::Source *source, QWidget *parent)
        : QWidget(parent)
        , m_source(source) {
        setObjectName(QStringLiteral("sim.lease"));
        setMinimumHeight(44);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const auto [fraction, text] = leaseReading(*m_source);
        const QPalette &pal = palette();
        const QRectF bar(0.5, 0.5, width() - 1.0, 10);
        QPainterPath track;
        track.addRoundedRect(bar, 5, 5);
        p.fillPath(track, TesterPalette::withAlpha(pal.color(QPalette::WindowText), 0.1));
        if (fraction > 0) {
            QPainterPath fill;
            fill.addRoundedRect(QRectF(bar.topLeft(), QSizeF(bar.width() * fraction, bar.height())), 5, 5);
            p.fillPath(fill, TesterPalette::violet());
        }
        const bool expired = m_source->track->leaseExpired() && !m_source->track->resonance();
        p.setPen(expired ? TesterPalette::failure(pal) : TesterPalette::secondary(pal));
        p.setFont(ui::designFont(12, expired ? QFont::DemiBold : QFont::Normal));
        p.drawText(QRectF(0, 16, width(), height() - 16), Qt::AlignLeft | Qt::AlignTop, text);
    }

private:
    SimView::Source *m_source;
};

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

    m_lease = new LeaseBar(&m_source, this);
    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(titled(QStringLiteral("In riproduzione"), now, this), 3);
    row->addWidget(titled(QStringLiteral("Lease"), m_lease, this), 2);
    layout->addLayout(row);
    m_faults = label(QStringLiteral("sim.faults"), 12, QFont::Normal, ui::Tone::secondary, this);
    layout->addWidget(titled(QStringLiteral("Guasti in vigore"), m_faults, this));

    refreshTexts();
    refreshFaults();
}

std::pair<double, QString> SimView::leaseReading() const {
    return sim::leaseReading(m_source);
}

void SimView::follow(const QString &event, const QJsonObject &fields) {
    if (event == QLatin1String("faults") || fields.contains(QLatin1String("fault")))
        refreshFaults();
    if (event != QLatin1String("request"))
        refreshTexts();
    m_strip->update();
    m_lease->update();
    tick();
}

void SimView::tick() {
    const PlayTrack &track = *m_source.track;
    const double now = m_source.nowMs();
    m_strip->update();
    m_lease->update();
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

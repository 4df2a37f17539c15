#include "ui/workspaces/WorkspaceKit.h"

#include "ui/Glyphs.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyleOptionButton>

namespace vibrelle::ui {
namespace {

// A push button filled with the accent. It sizes itself like any push button (text and
// icon through the style) and paints its own face, so it looks the same in every style.
class ProminentButton final : public QPushButton {
public:
    ProminentButton(const QString &text, const QString &symbolName, QWidget *parent)
        : QPushButton(text, parent)
        , m_symbolName(symbolName) {
        setAutoDefault(false);
        setAttribute(Qt::WA_Hover);
        if (!symbolName.isEmpty()) {
            setIcon(glyph(symbolName, Qt::white)); // for the size hint; painted below
            setIconSize(QSize(glyphSide(), glyphSide()));
        }
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF face = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        QPainterPath shape;
        shape.addRoundedRect(face, 6, 6);

        QColor fill = TesterPalette::violet();
        QColor ink = Qt::white;
        if (!isEnabled()) {
            fill = palette().color(QPalette::Disabled, QPalette::Button);
            ink = palette().color(QPalette::Disabled, QPalette::ButtonText);
        } else if (isDown()) {
            fill = fill.darker(118);
        } else if (underMouse()) {
            fill = fill.lighter(110);
        }
        painter.fillPath(shape, fill);
        if (!isEnabled()) {
            painter.setPen(QPen(TesterPalette::withAlpha(TesterPalette::secondary(palette()), 0.4), 1));
            painter.drawPath(shape);
        }
        if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
            painter.setPen(QPen(TesterPalette::withAlpha(TesterPalette::violet(), 0.55), 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
        }

        const QFontMetrics metrics = fontMetrics();
        const bool hasGlyph = !m_symbolName.isEmpty();
        const int textWidth = metrics.horizontalAdvance(text());
        const int side = iconSize().width();
        const int contentWidth = textWidth + (hasGlyph ? side + glyphGap : 0);
        int x = (width() - contentWidth) / 2;
        if (hasGlyph) {
            paintGlyph(painter, QRectF(x, (height() - side) / 2.0, side, side), m_symbolName, ink);
            x += side + glyphGap;
        }
        painter.setPen(ink);
        painter.drawText(QRect(x, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    static int glyphSide() { return textLength(11); }
    static constexpr int glyphGap = 5;
    static constexpr int horizontalPadding = 14;
    QString m_symbolName;
};

class Hairline final : public QWidget {
public:
    Hairline(Qt::Orientation orientation, QWidget *parent)
        : QWidget(parent) {
        if (orientation == Qt::Horizontal) {
            setFixedHeight(1);
            setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        } else {
            setFixedWidth(1);
            setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        }
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.fillRect(rect(), TesterPalette::withAlpha(palette().color(QPalette::WindowText), 0.15));
    }
};

} // namespace

QLabel *textLabel(const QString &text, double pixelSize, QFont::Weight weight, Tone tone, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    setDesignFont(label, pixelSize, weight);
    if (tone != Tone::primary) {
        setTone(label, tone);
    }
    return label;
}

QLabel *smallHeading(const QString &text, QWidget *parent) {
    auto *label = textLabel(text, 9, QFont::DemiBold, Tone::secondary, parent);
    setDesignFont(label, 9, QFont::DemiBold, Face::system, 1);
    return label;
}

QPushButton *prominentButton(const QString &text, const QString &symbolName, QWidget *parent) {
    return new ProminentButton(text, symbolName, parent);
}

QWidget *hairline(Qt::Orientation orientation, QWidget *parent) {
    return new Hairline(orientation, parent);
}

QPushButton *standardButton(const QString &text, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

void joinTabOrder(QWidget *built, QWidget *region) {
    const auto inBuilt = [built](QWidget *w) { return w == built || built->isAncestorOf(w); };
    // The last stop at or before the end of the region's run in the focus chain.
    QWidget *anchor = region;
    while (anchor->focusPolicy() == Qt::NoFocus && anchor->previousInFocusChain() != region) {
        anchor = anchor->previousInFocusChain();
    }
    for (QWidget *w = region->nextInFocusChain(); w != region && region->isAncestorOf(w) && !inBuilt(w);
         w = w->nextInFocusChain()) {
        if (w->focusPolicy() != Qt::NoFocus) {
            anchor = w;
        }
    }
    QList<QWidget *> stops;
    for (QWidget *w = built; stops.size() < 10000; w = w->nextInFocusChain()) {
        if (w->focusPolicy() != Qt::NoFocus) {
            stops.append(w);
        }
        if (!inBuilt(w->nextInFocusChain())) {
            break;
        }
    }
    for (QWidget *stop : stops) {
        QWidget::setTabOrder(anchor, stop);
        anchor = stop;
    }
}

void useAccentHighlight(QWidget *widget) {
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Highlight, TesterPalette::violet());
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    widget->setPalette(palette);
}

} // namespace vibrelle::ui

#include "ui/workspaces/WorkspaceKit.h"

#include "ui/Glyphs.h"

#include <QIcon>
#include <QPixmap>

namespace vibrelle::ui {
namespace {

// Pixmaps per mode: the glyph's own disabled mode only fades the colour, which leaves
// white nearly invisible on a disabled (grey) button.
QIcon buttonGlyph(const QString &symbolName, const QColor &normal, const QColor &disabled) {
    QIcon icon;
    const QIcon normalGlyph = glyph(symbolName, normal);
    const QIcon disabledGlyph = glyph(symbolName, disabled);
    for (const int side : {12, 16, 24, 32, 48}) {
        icon.addPixmap(normalGlyph.pixmap(QSize(side, side)), QIcon::Normal);
        icon.addPixmap(disabledGlyph.pixmap(QSize(side, side)), QIcon::Disabled);
    }
    return icon;
}

} // namespace

QLabel *textLabel(const QString &text, int pixelSize, QFont::Weight weight, Tone tone, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(pixelFont(pixelSize, weight));
    if (tone != Tone::primary) {
        setTone(label, tone);
    }
    return label;
}

QLabel *smallHeading(const QString &text, QWidget *parent) {
    auto *label = textLabel(text, 9, QFont::DemiBold, Tone::secondary, parent);
    QFont font = label->font();
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    label->setFont(font);
    return label;
}

QPushButton *prominentButton(const QString &text, const QString &symbolName, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    QPalette palette = button->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, TesterPalette::violet());
        palette.setColor(group, QPalette::ButtonText, Qt::white);
    }
    button->setPalette(palette);
    if (!symbolName.isEmpty()) {
        button->setIcon(
            buttonGlyph(symbolName, Qt::white, palette.color(QPalette::Disabled, QPalette::ButtonText)));
        button->setIconSize(QSize(12, 12));
    }
    return button;
}

QPushButton *standardButton(const QString &text, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
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

#include "ui/TesterPalette.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QWidget>

namespace vibrelle::ui {

QColor TesterPalette::violet() {
    static const QColor color = QColor::fromRgbF(0.45f, 0.36f, 0.84f, 1.0f);
    return color;
}

QColor TesterPalette::canvas(const QPalette &palette) {
    return palette.color(QPalette::Window);
}

QColor TesterPalette::panel(const QPalette &palette) {
    return withAlpha(palette.color(QPalette::Base), 0.86);
}

QColor TesterPalette::secondary(const QPalette &palette) {
    return withAlpha(palette.color(QPalette::WindowText), isDark(palette) ? 0.62 : 0.6);
}

QColor TesterPalette::tertiary(const QPalette &palette) {
    return withAlpha(palette.color(QPalette::WindowText), isDark(palette) ? 0.45 : 0.42);
}

QColor TesterPalette::failure(const QPalette &palette) {
    return isDark(palette) ? QColor(0xff, 0x6b, 0x63) : QColor(0xc4, 0x1e, 0x1e);
}

QColor TesterPalette::success(const QPalette &palette) {
    return isDark(palette) ? QColor(0x4c, 0xd9, 0x64) : QColor(0x24, 0x9a, 0x3e);
}

bool TesterPalette::isDark(const QPalette &palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor TesterPalette::withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(color.alphaF() * alpha));
    return color;
}

QColor toneColor(Tone tone, const QPalette &palette) {
    switch (tone) {
    case Tone::primary:
        return palette.color(QPalette::WindowText);
    case Tone::secondary:
        return TesterPalette::secondary(palette);
    case Tone::tertiary:
        return TesterPalette::tertiary(palette);
    case Tone::accent:
        return TesterPalette::violet();
    case Tone::failure:
        return TesterPalette::failure(palette);
    case Tone::success:
        return TesterPalette::success(palette);
    }
    return palette.color(QPalette::WindowText);
}

namespace {

// Re-applies a widget's tone when the application palette changes.
class ToneKeeper final : public QObject {
public:
    ToneKeeper(QWidget *widget, Tone tone)
        : QObject(widget)
        , m_widget(widget)
        , m_tone(tone) {}

    void setTone(Tone tone) {
        m_tone = tone;
        apply();
    }

    void apply() {
        const QPalette base = QApplication::palette(m_widget);
        const QColor color = toneColor(m_tone, base);
        QPalette palette = m_widget->palette();
        if (palette.color(QPalette::WindowText) == color && palette.color(QPalette::Text) == color &&
            palette.color(QPalette::ButtonText) == color) {
            return;
        }
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::WindowText, color);
            palette.setColor(group, QPalette::Text, color);
            palette.setColor(group, QPalette::ButtonText, color);
        }
        m_widget->setPalette(palette);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_widget && event->type() == QEvent::ApplicationPaletteChange) {
            apply();
        }
        return false;
    }

private:
    QWidget *m_widget;
    Tone m_tone;
};

} // namespace

void setTone(QWidget *widget, Tone tone) {
    ToneKeeper *keeper = nullptr;
    for (QObject *child : widget->children()) {
        if ((keeper = dynamic_cast<ToneKeeper *>(child))) {
            break;
        }
    }
    if (!keeper) {
        keeper = new ToneKeeper(widget, tone);
        widget->installEventFilter(keeper);
    }
    keeper->setTone(tone);
}

QFont pixelFont(int pixelSize, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospaceFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

} // namespace vibrelle::ui

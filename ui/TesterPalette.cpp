#include "ui/TesterPalette.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QWidget>

#include <cmath>
#include <optional>

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

struct FontSpec {
    double pixels = 0;
    QFont::Weight weight = QFont::Normal;
    Face face = Face::system;
    double letterSpacing = 0;
};

QFont fontOf(const FontSpec &style) {
    QFont font = style.face == Face::monospace ? designMonospaceFont(style.pixels, style.weight)
                                               : designFont(style.pixels, style.weight);
    if (style.letterSpacing != 0) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, style.letterSpacing * fontScale());
    }
    return font;
}

// Keeps a widget's tone and design font when the application's palette or font changes.
class StyleKeeper final : public QObject {
public:
    explicit StyleKeeper(QWidget *widget)
        : QObject(widget)
        , m_widget(widget) {
        widget->installEventFilter(this);
        // A widget whose font is set keeps it when the application font changes: follow that.
        connect(qApp, &QGuiApplication::fontChanged, this, &StyleKeeper::applyFont);
    }

    static StyleKeeper *of(QWidget *widget) {
        for (QObject *child : widget->children()) {
            if (auto *keeper = dynamic_cast<StyleKeeper *>(child)) {
                return keeper;
            }
        }
        return new StyleKeeper(widget);
    }

    void setTone(Tone tone) {
        m_tone = tone;
        applyTone();
    }
    void setFont(const FontSpec &style) {
        m_font = style;
        applyFont();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_widget && event->type() == QEvent::ApplicationPaletteChange) {
            applyTone();
        }
        return false;
    }

private:
    void applyTone() {
        if (!m_tone) {
            return;
        }
        const QPalette base = QApplication::palette(m_widget);
        const QColor color = toneColor(*m_tone, base);
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
    void applyFont() {
        if (m_font) {
            const QFont font = fontOf(*m_font);
            if (m_widget->font() != font) {
                m_widget->setFont(font);
            }
        }
    }

    QWidget *m_widget;
    std::optional<Tone> m_tone;
    std::optional<FontSpec> m_font;
};

} // namespace

void setTone(QWidget *widget, Tone tone) {
    StyleKeeper::of(widget)->setTone(tone);
}

double fontScale() {
    const QFont font = QApplication::font();
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pixelSize() * 0.75;
    return points / 10.0;
}

int textLength(double pixels) {
    return static_cast<int>(std::lround(pixels * fontScale()));
}

QFont designFont(double pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPointSizeF(pixels * 0.75 * fontScale()); // a pixel is 0.75 pt at the reference 96 dpi
    font.setWeight(weight);
    return font;
}

QFont designMonospaceFont(double pixels, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(pixels * 0.75 * fontScale());
    font.setWeight(weight);
    return font;
}

void setDesignFont(QWidget *widget, double pixels, QFont::Weight weight, Face face, double letterSpacing) {
    StyleKeeper::of(widget)->setFont(FontSpec{pixels, weight, face, letterSpacing});
}

} // namespace vibrelle::ui

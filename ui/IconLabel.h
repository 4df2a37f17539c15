#pragma once

#include <QString>
#include <QWidget>

namespace vibrelle::ui {

// A glyph followed by one line of text, drawn in the widget's text colour (WindowText).
// Used for badges and fixed captions; its accessible name is the text.
class IconLabel final : public QWidget {
    Q_OBJECT
public:
    IconLabel(const QString &symbolName, const QString &text, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    QString symbolName() const { return m_symbolName; }
    void setContent(const QString &symbolName, const QString &text);
    // Glyph side relative to the font's pixel size (default 1.0) and gap to the text.
    void setGlyphScale(double scale);
    void setSpacing(int spacing);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int glyphSide() const;

    QString m_symbolName;
    QString m_text;
    double m_glyphScale = 1.0;
    int m_spacing = 5;
};

} // namespace vibrelle::ui

#pragma once

#include "ui/AccessibleControls.h"

namespace vibrelle::ui {

// One row of the sidebar, a page tab: the section's glyph and title in a rounded, full-width
// hit area. The checked row is the selected section (violet, tinted background).
class SectionRow final : public TabButton {
    Q_OBJECT
public:
    SectionRow(const QString &symbolName, const QString &title, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    // The view decides which row is checked; a click only reports the wish.
    void nextCheckState() override {}
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QFont titleFont() const;

    QString m_symbolName;
    bool m_hovered = false;
};

} // namespace vibrelle::ui

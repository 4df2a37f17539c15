#pragma once

#include <QAbstractButton>
#include <QString>
#include <QWidget>

namespace vibrelle::ui {

// A titled section that opens and closes: a toggle with a turning arrow, and the content
// below it, shown only while open. It starts closed. The toggle is a checkable button
// (checked = open): Tab reaches it, Space or Enter toggles it.
class Disclosure final : public QWidget {
    Q_OBJECT
public:
    Disclosure(const QString &title, QWidget *content, int spacing, QWidget *parent = nullptr);

    QAbstractButton *toggle() const { return m_toggle; }
    QWidget *body() const { return m_body; }
    bool isOpen() const { return m_toggle->isChecked(); }

private:
    QAbstractButton *m_toggle;
    QWidget *m_body;
};

} // namespace vibrelle::ui

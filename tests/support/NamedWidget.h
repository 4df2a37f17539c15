#pragma once

#include <QWidget>

namespace vibrelle::testing {

// The widget below `root` with this object name; a test that asks for a missing one stops at once.
template <typename T = QWidget> T *namedWidget(const QWidget &root, const QString &objectName) {
    T *widget = root.findChild<T *>(objectName);
    if (!widget) {
        qFatal("no widget named %s", qPrintable(objectName));
    }
    return widget;
}

} // namespace vibrelle::testing

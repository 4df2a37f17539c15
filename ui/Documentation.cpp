#include "ui/Documentation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace vibrelle::ui {

QString documentationFile(const QString &applicationDir, const QString &sourceTreeFile) {
    const QString installed = QDir::cleanPath(
        QDir(applicationDir).absoluteFilePath(QStringLiteral("../share/doc/vibrelle-api-tester/api.html")));
    for (const QString &candidate : {installed, sourceTreeFile}) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

QString documentationFile() {
    return documentationFile(QCoreApplication::applicationDirPath(),
                             QStringLiteral(VIBRELLE_SOURCE_DOCUMENTATION));
}

} // namespace vibrelle::ui

#include "platform/ui/FileChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace platform::ui {

QString ChooserStartFolder(const QStringList& preferred) {
    QStringList candidates = preferred;
    candidates << QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    for (const QString& folder : candidates) {
        if (folder.isEmpty())
            continue;
        const QFileInfo info(folder);
        if (info.isAbsolute() && info.isDir())
            return QDir::cleanPath(info.absoluteFilePath());
    }
    return QDir::homePath();
}

QString QtFilterFromPipes(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString desc = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        if (desc.isEmpty() && patterns.isEmpty())
            continue;
        const QString joined = patterns.join(QLatin1Char(' '));
        if (joined.isEmpty())
            out << desc;
        else if (desc.isEmpty())
            out << QStringLiteral("(%1)").arg(joined);
        else if (desc.endsWith(QStringLiteral("(%1)").arg(joined)))
            out << desc;
        else
            out << QStringLiteral("%1 (%2)").arg(desc, joined);
    }
    return out.join(QStringLiteral(";;"));
}

QString QtFileChooser::Choose(QWidget* parent, const FileRequest& request) {
    QFileDialog dialog(parent, request.title, request.initialPath, QtFilterFromPipes(request.filter));
    if (request.mode == FileMode::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!request.confirmOverwrite)
            dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace platform::ui

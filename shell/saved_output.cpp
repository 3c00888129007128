#include "saved_output.h"

#include "dialogs.h"
#include "output_file.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStandardPaths>

namespace mirv {

QString askSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                        const QString& filter) {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QFileDialog::getSaveFileName(parent, caption, QDir(folder).filePath(suggested), filter);
}

bool saveOutput(const QString& path, const QByteArray& bytes, const ProtectedFiles& station,
                Dialogs& dialogs) {
    OutputFile file(QFile::encodeName(path).toStdString(), station);
    std::optional<std::string> failed;
    if (!file.ok())
        failed = file.error();
    if (!failed)
        failed = file.write(std::string_view(bytes.constData(), bytes.size()));
    if (!failed)
        failed = file.commit();
    if (failed)
        dialogs.message(
            QStringLiteral("保存失败：%1\r\n%2").arg(path, QString::fromLocal8Bit(*failed)));
    return !failed;
}

} // namespace mirv

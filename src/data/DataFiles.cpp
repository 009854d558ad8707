#include "DataFiles.h"

#include <QFile>

#include "Exceptions.h"

using namespace Qt::StringLiterals;

namespace DataFiles {

QString read(const QString &relativePath)
{
    QFile file(u":/data/"_s + relativePath);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EDatabaseError(u"Arquivo de definição não encontrado: %1"_s.arg(relativePath));
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace DataFiles

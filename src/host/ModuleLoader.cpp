#include "ModuleLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "Guard.h"

using namespace Qt::StringLiterals;

QString ModuleLoader::resolve(const QString &pathOrCode) const
{
    const QString given = pathOrCode.trimmed();
    if (given.isEmpty()) {
        return {};
    }
    if (given.contains(u'/') || QLibrary::isLibrary(given)) {
        const QFileInfo info(given);
        return info.exists() ? info.absoluteFilePath() : QString();
    }
    QStringList folders = m_searchPath;
    const QString appDir = QCoreApplication::applicationDirPath();
    // Beside the program (a build), and the installed package's own folder.
    folders << appDir << QDir(appDir).filePath(u"../lib"_s) << QDir(appDir).filePath(u"../lib/pru"_s);
    const QString env = qEnvironmentVariable("PRU_MODULE_PATH");
    if (!env.isEmpty()) {
        folders << env.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    }
    for (const QString &folder : std::as_const(folders)) {
        for (const QString &name : {u"lib%1.so"_s.arg(given), u"%1.so"_s.arg(given)}) {
            const QFileInfo info(QDir(folder).filePath(name));
            if (info.exists()) {
                return info.canonicalFilePath();
            }
        }
    }
    return {};
}

bool ModuleLoader::open(const QString &pathOrCode, QString *error)
{
    const QString path = resolve(pathOrCode);
    if (path.isEmpty()) {
        *error = u"Módulo não encontrado: %1"_s.arg(pathOrCode);
        return false;
    }
    std::shared_ptr<QLibrary> library = m_libraries.value(path);
    if (!library) {
        library = std::make_shared<QLibrary>(path);
        // Every symbol resolved at load: a module missing one fails here, clearly.
        library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (!library->load()) {
            *error = u"Não foi possível carregar o módulo %1: %2"_s.arg(path, library->errorString());
            return false;
        }
        m_libraries.insert(path, library);
    }
    using EntryPoint = void (*)();
    auto entry = reinterpret_cast<EntryPoint>(library->resolve("IniProc"));
    if (!entry) {
        *error = u"O módulo %1 não oferece o ponto de entrada IniProc."_s.arg(path);
        return false;
    }
    if (!guarded(nullptr, [entry] { entry(); })) {
        error->clear(); // already shown by the guard (or a silent stop)
        return false;
    }
    return true;
}

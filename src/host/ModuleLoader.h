#pragma once

#include <QHash>
#include <QLibrary>
#include <QStringList>

#include <memory>

// Loads screen modules and opens their screens through the exported IniProc.
// A loaded module stays loaded for the life of the host: its screens' widgets
// and code must outlive any window that could still use them.
class ModuleLoader
{
public:
    // Extra folders searched for a screen code, before the defaults (the
    // program's folder, ../lib beside it, $PRU_MODULE_PATH).
    void setSearchPath(const QStringList &folders) { m_searchPath = folders; }

    // A path (with a folder or a library suffix) as given; a code such as
    // PRU87000 as lib<code>.so in the search folders. Empty when not found.
    QString resolve(const QString &pathOrCode) const;

    // Loads the module (once) and calls IniProc. Errors loading or resolving
    // come back as false with *error; errors inside IniProc go through the
    // framework's guard (shown to the user) and give false with *error empty.
    bool open(const QString &pathOrCode, QString *error);

    QStringList loadedModules() const { return m_libraries.keys(); }

private:
    QStringList m_searchPath;
    QHash<QString, std::shared_ptr<QLibrary>> m_libraries; // by file path
};

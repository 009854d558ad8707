#include "LookupConnection.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "SqliteParam.h"

using namespace Qt::StringLiterals;

namespace {

QString openedOptions; // options text the shared connection was opened from

LookupSettings::Engine engineFromName(const QString &name)
{
    const QString n = name.toLower();
    if (n == u"sqlite" || n == u"qsqlite" || n == u"sqlite3") {
        return LookupSettings::Engine::SQLite;
    }
    if (n == u"postgresql" || n == u"postgres" || n == u"pg" || n == u"qpsql") {
        return LookupSettings::Engine::PostgreSQL;
    }
    if (n == u"firebird" || n == u"interbase" || n == u"qibase") {
        return LookupSettings::Engine::Firebird;
    }
    throw EDatabaseError(u"Banco de consultas: motor desconhecido \"%1\"."_s.arg(name));
}

// key=value pairs separated by blanks; a value in single quotes may hold
// blanks, with \\' for a quote and \\\\ for a backslash (as libpq reads them).
QStringList splitOptions(const QString &text)
{
    QStringList tokens;
    QString token;
    bool inToken = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\'') {
            inToken = true;
            for (++i;; ++i) {
                if (i >= text.size()) {
                    // The value may be a password: not repeated in the message.
                    throw EDatabaseError(u"Banco de consultas: aspas simples abertas e não fechadas."_s);
                }
                if (text.at(i) == u'\\' && i + 1 < text.size()) {
                    token += text.at(++i);
                } else if (text.at(i) == u'\'') {
                    break;
                } else {
                    token += text.at(i);
                }
            }
        } else if (c.isSpace()) {
            if (inToken) {
                tokens << token;
                token.clear();
                inToken = false;
            }
        } else {
            token += c;
            inToken = true;
        }
    }
    if (inToken) {
        tokens << token;
    }
    return tokens;
}

} // namespace

LookupSettings LookupSettings::parse(const QString &options)
{
    LookupSettings s;
    QString rest = options.trimmed();
    bool engineGiven = false;
    // "DRIVER:..." prefix
    static const QRegularExpression prefix(u"^(QSQLITE|QPSQL|QIBASE):"_s, QRegularExpression::CaseInsensitiveOption);
    if (const auto m = prefix.match(rest); m.hasMatch()) {
        s.engine = engineFromName(m.captured(1));
        engineGiven = true;
        rest = rest.mid(m.capturedLength()).trimmed();
        if (s.engine == Engine::SQLite && !rest.contains(u'=')) {
            s.file = rest;
            rest.clear();
        }
    }
    for (const QString &token : splitOptions(rest)) {
        const qsizetype eq = token.indexOf(u'=');
        if (eq <= 0) {
            throw EDatabaseError(u"Banco de consultas: opção inválida \"%1\" (esperado chave=valor)."_s.arg(token));
        }
        const QString key = token.left(eq).toLower();
        const QString value = token.mid(eq + 1);
        if (key == u"engine" || key == u"driver") {
            s.engine = engineFromName(value);
            engineGiven = true;
        } else if (key == u"file") {
            s.file = value;
        } else if (key == u"host") {
            s.host = value;
        } else if (key == u"port") {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (!ok || port <= 0 || port > 65535) {
                throw EDatabaseError(u"Banco de consultas: porta inválida \"%1\"."_s.arg(value));
            }
            s.port = port;
        } else if (key == u"database" || key == u"dbname") {
            s.database = value;
        } else if (key == u"user") {
            s.user = value;
        } else if (key == u"password") {
            s.password = value;
        } else if (key == u"sslmode") {
            static const QStringList modes = {u"disable"_s, u"allow"_s,     u"prefer"_s,
                                              u"require"_s, u"verify-ca"_s, u"verify-full"_s};
            if (!modes.contains(value)) {
                throw EDatabaseError(
                    u"Banco de consultas: sslmode inválido \"%1\" (use %2)."_s.arg(value, modes.join(u", "_s)));
            }
            s.sslMode = value;
        } else if (key == u"sslrootcert") {
            s.sslRootCert = value;
        } else {
            throw EDatabaseError(u"Banco de consultas: opção desconhecida \"%1\"."_s.arg(key));
        }
    }
    if (!engineGiven && s.file.isEmpty() && !s.database.isEmpty()) {
        throw EDatabaseError(u"Banco de consultas: informe o motor (engine=postgresql ou engine=firebird)."_s);
    }
    if ((!s.sslMode.isEmpty() || !s.sslRootCert.isEmpty()) && s.engine != Engine::PostgreSQL) {
        throw EDatabaseError(u"Banco de consultas: sslmode e sslrootcert valem só para PostgreSQL."_s);
    }
    if (s.engine == Engine::SQLite && s.file.isEmpty()) {
        throw EDatabaseError(u"Banco de consultas: arquivo SQLite não informado."_s);
    }
    if (s.engine != Engine::SQLite && s.database.isEmpty()) {
        throw EDatabaseError(u"Banco de consultas: banco de dados não informado."_s);
    }
    return s;
}

QString LookupSettings::driverName() const
{
    switch (engine) {
    case Engine::SQLite:
        return u"QSQLITE"_s;
    case Engine::PostgreSQL:
        return u"QPSQL"_s;
    case Engine::Firebird:
        return u"QIBASE"_s;
    }
    return {};
}

QString LookupConnection::connectionName()
{
    return u"pru_lookup"_s;
}

QSqlDatabase LookupConnection::openNamed(const LookupSettings &settings, const QString &name)
{
    if (QSqlDatabase::contains(name)) {
        {
            QSqlDatabase old = QSqlDatabase::database(name, false);
            old.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    const QString driver = settings.driverName();
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        // The Debian package that brings each driver, so the message says what to install.
        const QString package = settings.engine == LookupSettings::Engine::SQLite       ? u"libqt6sql6-sqlite"_s
                                : settings.engine == LookupSettings::Engine::PostgreSQL ? u"libqt6sql6-psql"_s
                                                                                        : u"libqt6sql6-ibase"_s;
        throw EDatabaseError(
            u"Banco de consultas: o driver %1 não está instalado (pacote %2: apt install %2)."_s.arg(driver, package));
    }
    // Lookups never write: SQLite opens the file read-only, so it must exist
    // (read-only mode does not create it).
    if (settings.engine == LookupSettings::Engine::SQLite && !QFileInfo::exists(settings.file)) {
        throw EDatabaseError(u"Banco de consultas: arquivo não encontrado: %1"_s.arg(settings.file));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
    QString options;
    switch (settings.engine) {
    case LookupSettings::Engine::SQLite:
        db.setDatabaseName(settings.file);
        options = u"QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"_s;
        break;
    case LookupSettings::Engine::PostgreSQL:
        db.setDatabaseName(settings.database);
        options = u"connect_timeout=10"_s;
        if (!settings.sslMode.isEmpty()) {
            options += u";sslmode="_s + settings.sslMode;
        }
        if (!settings.sslRootCert.isEmpty()) {
            options += u";sslrootcert="_s + settings.sslRootCert;
        }
        break;
    case LookupSettings::Engine::Firebird:
        db.setDatabaseName(settings.database);
        // Texts travel as UTF-8 whatever the client's locale.
        options = u"ISC_DPB_LC_CTYPE=UTF8"_s;
        break;
    }
    db.setConnectOptions(options);
    if (!settings.host.isEmpty()) {
        db.setHostName(settings.host);
    }
    if (settings.port > 0) {
        db.setPort(settings.port);
    }
    db.setUserName(settings.user);
    db.setPassword(settings.password);
    if (!db.open()) {
        const QString error = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw EDatabaseError(u"Banco de consultas: não foi possível abrir (%1): %2"_s.arg(driver, error));
    }
    if (settings.engine == LookupSettings::Engine::SQLite) {
        try {
            SqliteParam::registerOn(db);
        } catch (...) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw;
        }
    }
    return db;
}

QSqlDatabase LookupConnection::open(const LookupSettings &settings)
{
    openedOptions.clear();
    QSqlDatabase db = openNamed(settings, connectionName());
    // An explicit open stands until the host's options change.
    openedOptions = LookupDatabaseOptions();
    return db;
}

QSqlDatabase LookupConnection::database()
{
    const QString options = LookupDatabaseOptions();
    if (isOpen() && (options.isEmpty() || options == openedOptions)) {
        return QSqlDatabase::database(connectionName(), false);
    }
    if (options.isEmpty()) {
        // Said before any driver is touched: the person needs where to set it.
        throw EDatabaseError(u"Banco de consultas não configurado. %1"_s.arg(LookupDatabaseHint()));
    }
    return open(LookupSettings::parse(options));
}

bool LookupConnection::isOpen()
{
    return QSqlDatabase::contains(connectionName()) && QSqlDatabase::database(connectionName(), false).isOpen();
}

void LookupConnection::close()
{
    openedOptions.clear();
    if (QSqlDatabase::contains(connectionName())) {
        {
            QSqlDatabase db = QSqlDatabase::database(connectionName(), false);
            db.close();
        }
        QSqlDatabase::removeDatabase(connectionName());
    }
}

TSqlDialect LookupConnection::dialectOf(const QSqlDatabase &database)
{
    return dialectFor(database.driverName(), database.databaseName() + u' ' + database.connectOptions());
}

TSqlDialect LookupConnection::dialectFor(const QString &driverName, const QString &connectionText)
{
    const QString driver = driverName.toUpper();
    if (driver == u"QIBASE") {
        return TSqlDialect::InterBase;
    }
    if (driver == u"QOCI") {
        return TSqlDialect::Oracle;
    }
    if (driver == u"QTDS") {
        return TSqlDialect::MSSQL;
    }
    if (driver.startsWith(u"QODBC")) {
        // An ODBC connection names its driver in the connection string.
        const QString target = connectionText.toLower();
        if (target.contains(u"sql server") || target.contains(u"sqlsrv") || target.contains(u"sqlncli")
            || target.contains(u"freetds")) {
            return TSqlDialect::MSSQL;
        }
        if (target.contains(u"oracle")) {
            return TSqlDialect::Oracle;
        }
    }
    return TSqlDialect::Default;
}

#pragma once

#include <QDate>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "ReportData.h"
#include "ReportPages.h"

class QWidget;
class TNetConnection;

// The report "Processos da unidade" of the logged-in operator's unit, opened
// from the host's menu: it asks for the options, reads the unit from the
// server in one call (GetRelatorioProcessos), lays out the pages behind a
// progress dialog that can be cancelled, and shows the print preview, from
// which a person prints, saves a PDF or exports a CSV file. It talks to the
// server only through its own connection, with the session's login.
class ProcessReport
{
public:
    explicit ProcessReport(QWidget *parent);
    ~ProcessReport();

    // The whole way, from the options to the preview; failures are shown.
    static void open(QWidget *parent);

    // Connects and reads the server's date and the unit's processes (for the
    // options). Throws EDatabaseError.
    void start();
    QDate today() const { return m_today; }
    // The unit's processes as numbers and names, for choosing one.
    const QList<QPair<qint64, QString>> &processList() const { return m_list; }

    // Reads the unit for the options and keeps the processes they choose.
    void load(const Report::Options &options);
    const QList<Report::Process> &processes() const { return m_processes; }
    const Report::Header &header() const { return m_header; }

    // Lays out the pages; with a parent, behind a progress dialog. False when cancelled.
    bool layOut(QWidget *progressParent = nullptr);
    const ReportPages &pages() const { return m_pages; }

    // Shows the print preview (modal).
    void preview();
    // False with an error to show, or with none when cancelled.
    bool savePdf(const QString &path, QString *error) const;
    bool saveCsv(const QString &path, QString *error) const;

    // Where the preview's save actions ask for a file name; tests answer it.
    using FileChooser =
        std::function<QString(QWidget *parent, const QString &title, const QString &suggested, const QString &filter)>;
    static void setFileChooser(FileChooser chooser);

private:
    QString suggestedName(const QString &extension) const;

    QPointer<QWidget> m_parent;
    std::unique_ptr<TNetConnection> m_connection;
    QDate m_today;
    QList<QPair<qint64, QString>> m_list;
    Report::Header m_header;
    QList<Report::Process> m_processes;
    ReportPages m_pages;
};

#pragma once

#include <QObject>
#include <QStringList>

#include "ModalDialogs.h"
#include "framework_export.h"

// A message catalogue: an ordered list of "key|text" lines. The key is what
// stands before the first '|', the text everything after it. Keys are
// compared exactly, case included; the first line with a key wins.
class FRAMEWORK_EXPORT TMessages : public QObject
{
    Q_OBJECT
public:
    explicit TMessages(QObject *parent = nullptr);

    const QStringList &Messages() const { return m_lines; }
    void setMessages(const QStringList &lines);
    // Loads UTF-8 text, one entry per line (blank lines skipped); from a
    // file or a resource path (":/..."). Throws EDatabaseError when unreadable.
    void loadFromText(const QString &text);
    void loadFromFile(const QString &path);

    bool contains(const QString &key) const;
    // The key's text. A missing key gives "Mensagem não cadastrada: <key>",
    // so the user never faces an empty box.
    QString Msg(const QString &key) const;

    // Shows the key's text modally and gives the button pressed.
    TModalResult ShowMsg(const QString &key, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext = 0) const;

private:
    QStringList m_lines;
};

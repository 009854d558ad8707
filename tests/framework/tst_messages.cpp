#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryFile>
#include <QTimer>
#include <QTest>

#include "Exceptions.h"
#include "FrameworkTestData.h"
#include "TMessages.h"

// The catalogue: "key|text" lines, exact keys, and the question box.
class TestMessages : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        resetDialogs();
        m_msg.setMessages({u"Excl|Confirma exclusão?"_s,
                           u"CdGrupoperJaCad| Código de grupo de operadores informado já cadastrado"_s,
                           u"DataInv|%s não é uma data válida."_s, u"Pipe|a|b"_s, u"Excl|segunda, nunca vista"_s,
                           u"PROC_N_EXC|O processo não pode ser excluído."_s});
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << u"Excl"_s << u"Confirma exclusão?"_s;
        QTest::newRow("leading blank kept")
            << u"CdGrupoperJaCad"_s << u" Código de grupo de operadores informado já cadastrado"_s;
        QTest::newRow("placeholder kept") << u"DataInv"_s << u"%s não é uma data válida."_s;
        QTest::newRow("text after the first bar") << u"Pipe"_s << u"a|b"_s;
        QTest::newRow("upper-case key") << u"PROC_N_EXC"_s << u"O processo não pode ser excluído."_s;
        QTest::newRow("case matters") << u"excl"_s << u"Mensagem não cadastrada: excl"_s;
        QTest::newRow("missing") << u"Nada"_s << u"Mensagem não cadastrada: Nada"_s;
    }
    void lookup()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QCOMPARE(m_msg.Msg(key), text);
    }

    void containsTellsMissingKeys()
    {
        QVERIFY(m_msg.contains(u"Excl"_s));
        QVERIFY(!m_msg.contains(u"EXCL"_s));
    }

    void loadsFromTextAndFiles()
    {
        TMessages m;
        m.loadFromText(u"A|um\r\n\r\nB|dois\n"_s);
        QCOMPARE(m.Messages().size(), 2);
        QCOMPARE(m.Msg(u"B"_s), u"dois"_s);

        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(u"Canc|Cancelar?\n"_s.toUtf8());
        file.close();
        m.loadFromFile(file.fileName());
        QCOMPARE(m.Msg(u"Canc"_s), u"Cancelar?"_s);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, m.loadFromFile(u"/nao/existe.msg"_s));
    }

    void showMsgAsksAndGivesTheButton_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("yes") << u"Sim"_s << int(mrYes);
        QTest::newRow("no") << u"Não"_s << int(mrNo);
    }
    void showMsgAsksAndGivesTheButton()
    {
        QFETCH(QString, answer);
        QFETCH(int, result);
        ModalDialogs::answerNext(answer);
        QCOMPARE(int(m_msg.ShowMsg(u"Excl"_s, mtConfirmation, mbYes | mbNo, 0)), result);
        QCOMPARE(ModalDialogs::shown().size(), 1);
        QCOMPARE(ModalDialogs::shown().at(0).text, u"Confirma exclusão?"_s);
        QCOMPARE(ModalDialogs::shown().at(0).type, mtConfirmation);
        QCOMPARE(ModalDialogs::shown().at(0).kind, DialogKind::Message);
    }

    void showMsgOnARealBoxAnsweredWithKeys()
    {
        // Nobody armed an answer: the real box opens and a "person" answers it.
        QTimer::singleShot(0, this, [] {
            QWidget *box = QApplication::activeModalWidget();
            QVERIFY(box);
            auto *no = box->findChild<QAbstractButton *>(u"Não"_s);
            QVERIFY(no);
            no->click();
        });
        QCOMPARE(m_msg.ShowMsg(u"Excl"_s, mtConfirmation, mbYes | mbNo, 0), mrNo);
        QTimer::singleShot(0, this, [] {
            QWidget *box = QApplication::activeModalWidget();
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Escape);
        });
        // Esc on a Yes/No question means No.
        QCOMPARE(m_msg.ShowMsg(u"Excl"_s, mtConfirmation, mbYes | mbNo, 0), mrNo);
        QTimer::singleShot(0, this, [] {
            QWidget *box = QApplication::activeModalWidget();
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Return); // the first button is the default
        });
        QCOMPARE(m_msg.ShowMsg(u"Excl"_s, mtConfirmation, mbYes | mbNo, 0), mrYes);
    }

private:
    TMessages m_msg;
};

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"

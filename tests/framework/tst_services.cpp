#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include "Exceptions.h"
#include "FrameworkServices.h"
#include "FrameworkTestData.h"
#include "Refusal.h"
#include "TDBGrid.h"

// The small services screens lean on: texts, reply check, busy indicator,
// session identity, enabling and repainting.
class TestServices : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetDialogs(); }

    void emptyString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("empty");
        QTest::newRow("nothing") << QString() << true;
        QTest::newRow("empty") << u""_s << true;
        QTest::newRow("blanks") << u"   "_s << true;
        QTest::newRow("tab") << u" \t "_s << true;
        QTest::newRow("letter in blanks") << u" a "_s << false;
        QTest::newRow("date with blanks") << u"  /  /    "_s << false;
    }
    void emptyString()
    {
        QFETCH(QString, text);
        QFETCH(bool, empty);
        QCOMPARE(EmptyString(text), empty);
    }

    void ajusta_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("code");
        QTest::newRow("trimmed") << u" 01 "_s << 2 << u"01"_s;
        QTest::newRow("cut to width") << u"ABC"_s << 2 << u"AB"_s;
        QTest::newRow("short kept short") << u"7"_s << 2 << u"7"_s;
        QTest::newRow("operator") << u"  joao.silva  "_s << 12 << u"joao.silva"_s;
        QTest::newRow("case kept") << u"Mx"_s << 2 << u"Mx"_s;
        QTest::newRow("blank") << u"   "_s << 12 << u""_s;
    }
    void ajusta()
    {
        QFETCH(QString, typed);
        QFETCH(int, width);
        QFETCH(QString, code);
        QCOMPARE(Ajusta(typed, width), code);
    }

    void dateMaskLeavesBlanksWhereNothingWasTyped()
    {
        QLineEdit edit;
        edit.setInputMask(DateMask());
        edit.show();
        QTest::keyClicks(&edit, u"0612"_s);
        QCOMPARE(edit.displayText(), u"06/12/____"_s);
        edit.clear();
        QTest::keyClicks(&edit, u"06122026"_s);
        QCOMPARE(edit.text(), u"06/12/2026"_s);
        QTest::keyClicks(&edit, u"x"_s); // letters never enter
        QCOMPARE(edit.text(), u"06/12/2026"_s);
    }

    void checkResultServGivesTheValue_data()
    {
        QTest::addColumn<QCborValue>("value");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("number") << QCborValue(42.5) << QVariant(42.5);
        QTest::newRow("integer") << QCborValue(7) << QVariant(7.0);
        QTest::newRow("text") << QCborValue(u"ok"_s) << QVariant(u"ok"_s);
        QTest::newRow("packet") << QCborValue(QByteArray("\x01\x02", 2)) << QVariant(QByteArray("\x01\x02", 2));
        QTest::newRow("null") << QCborValue(QCborValue::Null) << QVariant();
    }
    void checkResultServGivesTheValue()
    {
        QFETCH(QCborValue, value);
        QFETCH(QVariant, expected);
        QCOMPARE(CheckResultServ(RpcReply::success(value), true, 0), expected);
    }

    void checkResultServEndsTheOperationOnFailure()
    {
        QCOMPARE(refusalOf([&] { CheckResultServ(RpcReply::failure(u"Conflito ao gravar"_s), true, 0); }),
                 u"Conflito ao gravar"_s);
        QVERIFY(ModalDialogs::shown().isEmpty()); // the guard shows it, later

        ModalDialogs::answerNext(u"OK"_s);
        QVERIFY_THROWS_EXCEPTION(EAbort, CheckResultServ(RpcReply::failure(u"Falhou"_s), false, 0));
        QCOMPARE(ModalDialogs::shown().size(), 1);
        QCOMPARE(ModalDialogs::shown().at(0).kind, DialogKind::Error);
        QCOMPARE(ModalDialogs::shown().at(0).text, u"Falhou"_s);
    }

    void busyIndicatorNestsAndIsHiddenAfterAFailure()
    {
        QMainWindow window;
        window.resize(400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        setMainWindow(&window);
        ActiveShowAvi(&window, 1);
        // Nothing shows before the server is slow to answer.
        QVERIFY(!busyIndicatorVisible());
        QCOMPARE(busyIndicatorDepth(), 1);
        ActiveShowAvi(&window, 1); // a nested call
        DeactiveShowAvi();
        QCOMPARE(busyIndicatorDepth(), 1);
        DeactiveShowAvi();
        QCOMPARE(busyIndicatorDepth(), 0);
        DeactiveShowAvi(); // one too many does no harm
        QCOMPARE(busyIndicatorDepth(), 0);

        // A failing call still takes it down.
        try {
            BusyIndicatorScope busy(&window);
            QCOMPARE(busyIndicatorDepth(), 1);
            throw EDatabaseError(u"servidor caiu"_s);
        } catch (const EDatabaseError &) { }
        QVERIFY(!busyIndicatorVisible());
        QCOMPARE(busyIndicatorDepth(), 0);
        setMainWindow(nullptr);
    }

    void sessionIdentity()
    {
        setSession({u"SUPERVISOR"_s, u"senha"_s, u"10.0.0.5"_s, 8123, {}, {}});
        QCOMPARE(Operador(), u"SUPERVISOR"_s);
        QCOMPARE(WebURL(), u"10.0.0.5"_s);
        QCOMPARE(WebPort(), 8123);
        setLookupDatabaseOptions(u"QSQLITE:/tmp/x.db"_s);
        QCOMPARE(LookupDatabaseOptions(), u"QSQLITE:/tmp/x.db"_s);
    }

    void setChildEnabledReachesEveryControlInside()
    {
        QWidget panel;
        auto *a = new QPushButton(&panel);
        auto *inner = new QWidget(&panel);
        auto *b = new QPushButton(inner);
        SetChildEnabled(&panel, false);
        QVERIFY(panel.isEnabled());
        QVERIFY(!a->isEnabled());
        QVERIFY(!inner->isEnabled());
        QVERIFY(!b->isEnabled());
        SetChildEnabled(&panel, true);
        QVERIFY(a->isEnabled() && b->isEnabled());
    }

    void refreshGridRepaintsEveryGrid()
    {
        QWidget screen;
        auto *layout = new QVBoxLayout(&screen);
        TClientDataSet ds;
        definePeople(ds);
        ds.SetData(people(2));
        TDataSource dts;
        dts.setDataSet(&ds);
        auto *grid = new TDBGrid(&screen);
        grid->setDataSource(&dts);
        layout->addWidget(grid);
        int draws = 0;
        grid->OnDrawColumnCell = [&](QObject *, QPainter &, const QRect &, int, TColumn *, TGridDrawState) { ++draws; };
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        QTRY_VERIFY(draws > 0);
        draws = 0;
        RefreshGrid(&screen);
        QTRY_VERIFY(draws > 0);
    }

    void localCacheTellsWhichTablesChanged()
    {
        QStringList heard;
        QObject listener;
        connect(LocalCache::instance(), &LocalCache::tablesChanged, &listener,
                [&](const QStringList &tables) { heard << tables; });
        AtualizaLocalCache({u"ATIVIDADEFILIAL"_s});
        AtualizaLocalCache({u"PROCESSOFILIAL"_s});
        QCOMPARE(heard, (QStringList{u"ATIVIDADEFILIAL"_s, u"PROCESSOFILIAL"_s}));
        QVERIFY(LocalCache::instance()->changedTables().endsWith(u"PROCESSOFILIAL"_s));
    }

    // The style's own icon, read once: asked again, the same icon comes back.
    void standardIconsAreTheStyles()
    {
        QWidget widget;
        for (const QStyle::StandardPixmap which :
             {QStyle::SP_FileIcon, QStyle::SP_TrashIcon, QStyle::SP_DialogApplyButton}) {
            const QIcon icon = standardIcon(&widget, which);
            QCOMPARE(icon.pixmap(16).toImage(), widget.style()->standardIcon(which).pixmap(16).toImage());
            QCOMPARE(icon.pixmap(32).toImage(), widget.style()->standardIcon(which).pixmap(32).toImage());
            QCOMPARE(standardIcon(&widget, which).cacheKey(), icon.cacheKey());
        }
        QVERIFY(standardIcon(&widget, QStyle::SP_FileIcon).cacheKey()
                != standardIcon(&widget, QStyle::SP_TrashIcon).cacheKey());
    }
};

QTEST_MAIN(TestServices)
#include "tst_services.moc"

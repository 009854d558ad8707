#include <QSignalSpy>
#include <QTest>

#include "DateTime.h"
#include "Exceptions.h"
#include "Refusal.h"
#include "TClientDataSet.h"

using namespace Qt::StringLiterals;

namespace {

// A process row: number, text, date-time, a flag and a calculated text.
struct Processes
{
    TClientDataSet ds;
    TField *number;
    TField *name;
    TField *start;
    TField *flag;
    TField *lastUpdate;

    Processes()
    {
        ds.setObjectName(u"cdsProcessos"_s);
        number = ds.addField(u"NRPROCESSOFILIAL"_s, FieldType::Number);
        name = ds.addField(u"NMPROCESSOFILIAL"_s, FieldType::Text, 100);
        start = ds.addField(u"DTINIVIGENCIA"_s, FieldType::DateTime);
        flag = ds.addField(u"IDSITUACAO"_s, FieldType::Text, 1);
        lastUpdate = ds.addField(u"ULTATU"_s, FieldType::Text, 200, true);
    }

    void fill()
    {
        ds.SetData(DataPacket{{number->def(), name->def(), start->def(), flag->def()},
                              {{15.0, u"Fechamento"_s, DateTime::fromDate(2025, 3, 5), u"S"_s},
                               {16.0, u"Abertura"_s, QVariant(), u"N"_s}}});
    }
};

} // namespace

class TstField : public QObject
{
    Q_OBJECT

private slots:
    void asString_data();
    void asString();
    void setAsString_data();
    void setAsString();
    void textLongerThanSizeIsRefused();
    void conversionsBetweenTypes();
    void nullAndClear();
    void getAndSetTextHandlers();
    void calculatedFields();
    void properties();
    void focusControl();
    void dateTimeConversions();
    void dayMonthYear_data();
    void dayMonthYear();
};

void TstField::asString_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");

    const int number = int(FieldType::Number);
    const int date = int(FieldType::DateTime);
    QTest::newRow("whole number") << number << QVariant(15.0) << u"15"_s;
    QTest::newRow("negative key") << number << QVariant(-3.0) << u"-3"_s;
    QTest::newRow("decimal") << number << QVariant(2.5) << u"2.5"_s;
    QTest::newRow("shortest decimal") << number << QVariant(0.1) << u"0.1"_s;
    QTest::newRow("big key, no exponent") << number << QVariant(1e15) << u"1000000000000000"_s;
    QTest::newRow("zero") << number << QVariant(0.0) << u"0"_s;
    QTest::newRow("negative zero") << number << QVariant(-0.0) << u"0"_s;
    QTest::newRow("null number") << number << QVariant() << QString();
    QTest::newRow("date") << date << QVariant(DateTime::fromDate(2025, 3, 5)) << u"05/03/2025"_s;
    QTest::newRow("date with time") << date << QVariant(DateTime::fromDate(2025, 3, 5, 14, 7, 9))
                                    << u"05/03/2025 14:07:09"_s;
    QTest::newRow("day zero") << date << QVariant(0.0) << u"30/12/1899"_s;
    QTest::newRow("before day zero with time") << date << QVariant(-1.25) << u"29/12/1899 06:00:00"_s;
    QTest::newRow("null date") << date << QVariant() << QString();
}

void TstField::asString()
{
    QFETCH(int, type);
    QFETCH(QVariant, value);
    QFETCH(QString, text);

    TClientDataSet ds;
    TField *field = ds.addField(u"F"_s, FieldType(type));
    ds.SetData(DataPacket{{field->def()}, {{value}}});
    QCOMPARE(field->AsString(), text);
    QCOMPARE(field->DisplayText(), text);
    QCOMPARE(field->Text(), text);
}

void TstField::setAsString_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVariant>("stored"); // invalid: refused when 'refused'
    QTest::addColumn<bool>("refused");

    const int number = int(FieldType::Number);
    const int date = int(FieldType::DateTime);
    QTest::newRow("whole number") << number << u"15"_s << QVariant(15.0) << false;
    QTest::newRow("negative with blanks") << number << u" -3 "_s << QVariant(-3.0) << false;
    QTest::newRow("decimal") << number << u"2.5"_s << QVariant(2.5) << false;
    QTest::newRow("empty is null") << number << QString() << QVariant() << false;
    QTest::newRow("letters") << number << u"15a"_s << QVariant() << true;
    QTest::newRow("comma") << number << u"2,5"_s << QVariant() << true;
    QTest::newRow("infinity") << number << u"inf"_s << QVariant() << true;
    QTest::newRow("date") << date << u"05/03/2025"_s << QVariant(DateTime::fromDate(2025, 3, 5)) << false;
    QTest::newRow("date and time") << date << u"05/03/2025 14:07:09"_s
                                   << QVariant(DateTime::fromDate(2025, 3, 5, 14, 7, 9)) << false;
    QTest::newRow("short day and month") << date << u"5/3/2025"_s << QVariant(DateTime::fromDate(2025, 3, 5)) << false;
    QTest::newRow("empty mask is null") << date << u"  /  /    "_s << QVariant() << false;
    QTest::newRow("no such day") << date << u"31/02/2025"_s << QVariant() << true;
    QTest::newRow("two-digit year") << date << u"05/03/25"_s << QVariant() << true;
    QTest::newRow("bad time") << date << u"05/03/2025 25:00"_s << QVariant() << true;
}

void TstField::setAsString()
{
    QFETCH(int, type);
    QFETCH(QString, typed);
    QFETCH(QVariant, stored);
    QFETCH(bool, refused);

    TClientDataSet ds;
    TField *field = ds.addField(u"F"_s, FieldType(type));
    ds.CreateDataSet();
    ds.Insert();
    field->setAsFloat(7);
    if (refused) {
        const QString said = refusalOf([&] { field->setAsString(typed); });
        QVERIFY2(said.contains(typed) && said.contains(u"F"_s), qPrintable(said));
        QCOMPARE(field->Value(), QVariant(7.0)); // the value before stays
        return;
    }
    field->setAsString(typed);
    QCOMPARE(field->Value(), stored);
}

void TstField::textLongerThanSizeIsRefused()
{
    Processes p;
    p.fill();
    p.ds.Edit();
    p.name->setAsString(QString(100, u'ç'));
    QCOMPARE(refusalOf([&] { p.name->setAsString(QString(101, u'a')); }),
             u"Texto longo demais para o campo NMPROCESSOFILIAL (máximo 100 caracteres)."_s);
    QCOMPARE(p.name->AsString(), QString(100, u'ç')); // never cut
    // A lone surrogate has no UTF-8 form, so it could never travel in a packet.
    QVERIFY_THROWS_EXCEPTION(EPacketError, p.name->setAsString(u"a"_s + QChar(0xD800)));
    QCOMPARE(p.name->AsString(), QString(100, u'ç'));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.flag->setAsString(u"SN"_s));
    p.flag->setAsString(u"N"_s);

    // Text fields without a size hold 20 characters.
    TClientDataSet ds;
    QCOMPARE(ds.addField(u"T"_s, FieldType::Text)->Size(), 20);
}

void TstField::conversionsBetweenTypes()
{
    Processes p;
    p.fill();
    QCOMPARE(p.number->AsFloat(), 15.0);
    QCOMPARE(p.start->AsDateTime(), DateTime::fromDate(2025, 3, 5));
    p.ds.Edit();
    p.name->setAsFloat(-4); // a key written as text
    QCOMPARE(p.name->AsString(), u"-4"_s);
    QCOMPARE(p.name->AsFloat(), -4.0);
    p.name->setAsString(u"abc"_s);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.name->AsFloat());
    p.number->setValue(20);
    QCOMPARE(p.number->Value(), QVariant(20.0));
    p.number->setValue(u"21"_s);
    QCOMPARE(p.number->AsFloat(), 21.0);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.number->setAsFloat(qQNaN()));
    p.start->setValue(QDate(2025, 1, 2));
    QCOMPARE(p.start->AsString(), u"02/01/2025"_s);
    p.start->setValue(QDateTime(QDate(2025, 1, 2), QTime(8, 30)));
    QCOMPARE(p.start->AsString(), u"02/01/2025 08:30:00"_s);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.start->setAsDateTime(1e9)); // beyond year 9999
}

void TstField::nullAndClear()
{
    Processes p;
    p.fill();
    QVERIFY(!p.number->IsNull());
    p.ds.Edit();
    p.number->Clear();
    QVERIFY(p.number->IsNull());
    QCOMPARE(p.number->AsFloat(), 0.0);
    QCOMPARE(p.number->AsString(), QString());
    p.name->setAsString(QString());
    QVERIFY(!p.name->IsNull()); // an empty text is a value
    p.name->Clear();
    QVERIFY(p.name->IsNull());
    p.ds.Post();
    QVERIFY(p.ds.delta().entries[0].current.at(0).isNull());
}

void TstField::getAndSetTextHandlers()
{
    Processes p;
    p.fill();
    QStringList typed;
    const TFieldGetTextEvent getText = [](TField *sender, QString &text, bool displayText) {
        text = (displayText ? u"Sit. "_s : u"Código "_s) + sender->AsString();
    };
    const TFieldSetTextEvent setText = [&](TField *sender, const QString &text) {
        typed << text;
        sender->setAsString(text.trimmed().toUpper());
    };
    p.flag->OnGetText = getText;
    QCOMPARE(p.flag->DisplayText(), u"Sit. S"_s);
    QCOMPARE(p.flag->Text(), u"Código S"_s);
    QCOMPARE(p.flag->AsString(), u"S"_s); // the value itself is untouched
    p.flag->OnGetText = nullptr;
    QCOMPARE(p.flag->DisplayText(), u"S"_s);

    p.flag->OnSetText = setText;
    p.ds.Edit();
    p.flag->setText(u" n"_s);
    QCOMPARE(p.flag->AsString(), u"N"_s);
    QCOMPARE(typed, QStringList{u" n"_s});
    p.flag->OnSetText = nullptr;
    p.flag->setText(u"s"_s);
    QCOMPARE(p.flag->AsString(), u"s"_s);

    // A handler that refuses the text leaves the value as it was.
    p.start->OnSetText = [](TField *, const QString &) { Abort(); };
    QVERIFY_THROWS_EXCEPTION(EAbort, p.start->setText(u"01/01/2020"_s));
    QCOMPARE(p.start->AsString(), u"05/03/2025"_s);
}

void TstField::calculatedFields()
{
    Processes p;
    QList<TDataSetState> statesSeen;
    int runs = 0;
    p.ds.OnCalcFields = [&](TClientDataSet *ds) {
        ++runs;
        statesSeen << ds->State();
        p.lastUpdate->setAsString(p.name->AsString().isEmpty() ? QString()
                                                               : p.name->AsString() + u" - "_s + p.start->AsString());
        // Only calculated fields take values while calculating.
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.name->setAsString(u"x"_s));
    };
    p.fill();
    QCOMPARE(runs, 2);
    QCOMPARE(statesSeen.first(), TDataSetState::dsCalcFields);
    QCOMPARE(p.ds.State(), TDataSetState::dsBrowse);
    QCOMPARE(p.lastUpdate->AsString(), u"Fechamento - 05/03/2025"_s);
    QCOMPARE(p.ds.displayTextAt(1, p.lastUpdate), u"Abertura - "_s);

    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.lastUpdate->setAsString(u"x"_s));
    p.ds.Edit();
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.lastUpdate->setAsString(u"x"_s));
    p.name->setAsString(u"Revisão"_s);
    QCOMPARE(p.lastUpdate->AsString(), u"Revisão - 05/03/2025"_s); // follows each assignment
    p.ds.Post();
    QCOMPARE(p.lastUpdate->AsString(), u"Revisão - 05/03/2025"_s);
    p.ds.Insert();
    QCOMPARE(p.lastUpdate->AsString(), QString()); // calculated for the new row too

    // Never in packets.
    QCOMPARE(p.ds.data().fields.size(), 4);
    QCOMPARE(p.ds.delta().entries[0].current.size(), 4);
}

void TstField::properties()
{
    Processes p;
    QCOMPARE(p.name->DisplayLabel(), u"NMPROCESSOFILIAL"_s);
    p.name->setDisplayLabel(u"Nome"_s);
    QCOMPARE(p.name->DisplayLabel(), u"Nome"_s);
    QCOMPARE(p.name->DisplayWidth(), 100);
    QCOMPARE(p.number->DisplayWidth(), 10);
    QCOMPARE(p.start->DisplayWidth(), 18);
    p.number->setDisplayWidth(15);
    QCOMPARE(p.number->DisplayWidth(), 15);
    QVERIFY(p.start->Visible());
    p.start->setVisible(false);
    QVERIFY(!p.start->Visible());
    p.flag->setTag(1);
    QCOMPARE(p.flag->Tag(), 1);
    p.start->setEditMask(u"!99/99/9999;1;_"_s);
    QCOMPARE(p.start->EditMask(), u"!99/99/9999;1;_"_s);
    QCOMPARE(p.flag->Size(), 1);
    QVERIFY(p.lastUpdate->Calculated());
    QCOMPARE(p.start->def(), (FieldDef{u"DTINIVIGENCIA"_s, FieldType::DateTime, 0}));
    QCOMPARE(p.flag->objectName(), u"cdsProcessosIDSITUACAO"_s);
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, p.ds.addField(u"nmprocessofilial"_s, FieldType::Text));
}

void TstField::focusControl()
{
    Processes p;
    QSignalSpy fieldSpy(p.name, &TField::focusRequested);
    QSignalSpy setSpy(&p.ds, &TClientDataSet::fieldFocusRequested);
    p.name->FocusControl();
    QCOMPARE(fieldSpy.count(), 1);
    QCOMPARE(setSpy.count(), 1);
    QCOMPARE(setSpy[0][0].value<TField *>(), p.name);
}

void TstField::dateTimeConversions()
{
    QCOMPARE(DateTime::fromDate(1899, 12, 30), 0.0);
    QCOMPARE(DateTime::fromDate(1900, 1, 1, 12), 2.5);
    QCOMPARE(DateTime::dateOnly(DateTime::fromDate(2025, 3, 5, 23, 59, 59)), DateTime::fromDate(2025, 3, 5));
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, DateTime::fromDate(2025, 2, 30));
    // Whole days count from the same day zero, before it too.
    QCOMPARE(double(DateTime::dayNumber(QDate(2024, 3, 14))), DateTime::fromDate(2024, 3, 14));
    QCOMPARE(DateTime::dateOfDay(-1), QDate(1899, 12, 29));
    // Midnight that daylight saving skipped in some zones survives unchanged.
    const double skipped = DateTime::fromDate(2018, 11, 4);
    const QDateTime qt = DateTime::toQDateTime(skipped);
    QCOMPARE(qt.date(), QDate(2018, 11, 4));
    QCOMPARE(qt.time(), QTime(0, 0));
    QCOMPARE(DateTime::fromQDateTime(qt), skipped);
    const double withTime = DateTime::fromDate(2025, 12, 31, 23, 59, 59);
    QCOMPARE(DateTime::toQDateTime(withTime).time(), QTime(23, 59, 59));
    QCOMPARE(DateTime::fromQDateTime(DateTime::toQDateTime(-1.25)), -1.25);
    QCOMPARE(DateTime::toText(withTime), u"31/12/2025 23:59:59"_s);
    QCOMPARE(DateTime::fromText(u"31/12/2025 23:59:59"_s), std::optional<double>(withTime));
    QVERIFY(!DateTime::fromText(u"amanhã"_s));
    QVERIFY(!DateTime::toQDateTime(qInf()).isValid());
}

void TstField::dayMonthYear_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("date"); // invalid: refused

    QTest::newRow("plain") << u"05/05/2025"_s << QDate(2025, 5, 5);
    QTest::newRow("day before month") << u"13/01/2025"_s << QDate(2025, 1, 13);
    QTest::newRow("one-digit parts") << u"5/3/2025"_s << QDate(2025, 3, 5);
    QTest::newRow("mask blanks") << u"5 /3 /2025"_s << QDate(2025, 3, 5);
    QTest::newRow("leap day") << u"29/02/2024"_s << QDate(2024, 2, 29);
    QTest::newRow("first year") << u"01/01/1900"_s << QDate(1900, 1, 1);
    QTest::newRow("31 February") << u"31/02/2024"_s << QDate();
    QTest::newRow("29 February, no leap year") << u"29/02/2025"_s << QDate();
    QTest::newRow("month 13") << u"01/13/2025"_s << QDate();
    QTest::newRow("day 0") << u"00/01/2025"_s << QDate();
    QTest::newRow("two-digit year") << u"01/01/24"_s << QDate();
    QTest::newRow("two-digit year, mask blanks") << u"01/01/24  "_s << QDate();
    QTest::newRow("before 1900") << u"31/12/1899"_s << QDate();
    QTest::newRow("five-digit year") << u"01/01/20255"_s << QDate();
    QTest::newRow("slashes only") << u"  /  /    "_s << QDate();
    QTest::newRow("letters") << u"ab/cd/efgh"_s << QDate();
    QTest::newRow("month first is not read") << u"12/31/2025"_s << QDate();
    QTest::newRow("time of day") << u"01/01/2025 10:00"_s << QDate();
    QTest::newRow("other digits") << u"\u0661/01/2025"_s << QDate();
}

void TstField::dayMonthYear()
{
    QFETCH(QString, text);
    QFETCH(QDate, date);
    const std::optional<double> days = DateTime::fromDayMonthYear(text);
    if (!date.isValid()) {
        QVERIFY2(!days, qPrintable(text));
        return;
    }
    QVERIFY(days);
    QCOMPARE(*days, DateTime::fromDate(date.year(), date.month(), date.day()));
}

QTEST_GUILESS_MAIN(TstField)
#include "tst_field.moc"

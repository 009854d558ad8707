#include "TField.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "NullValue.h"
#include "TClientDataSet.h"

#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

// Typed text that means "no date": blanks, or an empty input mask.
bool isBlankDate(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isSpace() && c != u'/' && c != u':' && c != u'_') {
            return false;
        }
    }
    return true;
}

} // namespace

TField::TField(TClientDataSet *dataSet, const QString &fieldName, FieldType type, int size, bool calculated)
    : QObject(dataSet)
    , m_dataSet(dataSet)
    , m_fieldName(fieldName)
    , m_type(type)
    , m_size(type == FieldType::Text ? size : 0)
    , m_calculated(calculated)
{ }

int TField::Index() const
{
    return m_index;
}

int TField::DisplayWidth() const
{
    if (m_displayWidth > 0) {
        return m_displayWidth;
    }
    switch (m_type) {
    case FieldType::Text:
        return m_size;
    case FieldType::Number:
        return 10;
    case FieldType::DateTime:
        return 18;
    }
    return 10;
}

void TField::refuse(const QString &what) const
{
    throw EDatabaseError(u"%1 (campo %2)."_s.arg(what, m_fieldName));
}

QVariant TField::Value() const
{
    return m_dataSet ? m_dataSet->fieldValue(this) : QVariant();
}

void TField::setValue(const QVariant &value)
{
    if (!m_dataSet) {
        refuse(u"Campo sem conjunto de registros"_s);
    }
    m_dataSet->setFieldValue(this, value);
}

QString TField::AsString() const
{
    const QVariant value = Value();
    if (!value.isValid()) {
        return QString();
    }
    switch (m_type) {
    case FieldType::Text:
        return value.toString();
    case FieldType::Number:
        return formatNumber(value.toDouble());
    case FieldType::DateTime:
        return DateTime::toText(value.toDouble());
    }
    return QString();
}

void TField::setAsString(const QString &text)
{
    if (m_type == FieldType::Text) {
        setValue(text);
        return;
    }
    // setValue does the parsing, so that a bad text gives one clear message.
    setValue(QVariant(text));
}

double TField::AsFloat() const
{
    const QVariant value = Value();
    if (!value.isValid()) {
        return 0;
    }
    if (m_type == FieldType::Text) {
        const QString text = value.toString();
        if (text.trimmed().isEmpty()) {
            return 0;
        }
        const std::optional<double> number = parseNumber(text);
        if (!number) {
            throw EDatabaseError(u"'%1' não é um número válido (campo %2)."_s.arg(text, m_fieldName));
        }
        return *number;
    }
    return value.toDouble();
}

void TField::setAsFloat(double value)
{
    if (m_type == FieldType::Text) {
        if (!std::isfinite(value)) {
            refuse(u"Número inválido"_s);
        }
        setValue(formatNumber(value));
        return;
    }
    setValue(value);
}

double TField::AsDateTime() const
{
    const QVariant value = Value();
    if (!value.isValid()) {
        return 0;
    }
    if (m_type == FieldType::Text) {
        const QString text = value.toString();
        if (text.trimmed().isEmpty()) {
            return 0;
        }
        const std::optional<double> days = DateTime::fromText(text);
        if (!days) {
            throw EDatabaseError(u"'%1' não é uma data válida (campo %2)."_s.arg(text, m_fieldName));
        }
        return *days;
    }
    return value.toDouble();
}

void TField::setAsDateTime(double value)
{
    if (m_type == FieldType::Text) {
        if (!std::isfinite(value)) {
            refuse(u"Data inválida"_s);
        }
        setValue(DateTime::toText(value));
        return;
    }
    setValue(value);
}

bool TField::IsNull() const
{
    return !Value().isValid();
}

void TField::Clear()
{
    setValue(QVariant());
}

QVariant TField::OldValue() const
{
    return m_dataSet ? m_dataSet->fieldOldValue(this) : QVariant();
}

QString TField::DisplayText() const
{
    QString text = AsString();
    if (OnGetText) {
        // Copy: the handler may detach itself while it runs.
        const TFieldGetTextEvent handler = OnGetText;
        handler(const_cast<TField *>(this), text, true);
    }
    return text;
}

QString TField::Text() const
{
    QString text = AsString();
    if (OnGetText) {
        const TFieldGetTextEvent handler = OnGetText;
        handler(const_cast<TField *>(this), text, false);
    }
    return text;
}

void TField::setText(const QString &text)
{
    if (OnSetText) {
        const TFieldSetTextEvent handler = OnSetText;
        handler(this, text);
        return;
    }
    setAsString(text);
}

void TField::FocusControl()
{
    emit focusRequested(this);
    if (m_dataSet) {
        emit m_dataSet->fieldFocusRequested(this);
    }
}

QString TField::formatNumber(double value)
{
    if (!std::isfinite(value)) {
        return QString();
    }
    if (value == 0) {
        return u"0"_s; // also for -0
    }
    // Fixed notation with the fewest digits that read back the same double.
    char buffer[400];
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (result.ec != std::errc()) {
        return QString::number(value, 'g', 17);
    }
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

std::optional<double> TField::parseNumber(const QString &text)
{
    QByteArray latin = text.trimmed().toLatin1();
    if (latin.isEmpty() || latin.size() > 400) {
        return std::nullopt;
    }
    if (latin.startsWith('+')) {
        latin.remove(0, 1);
    }
    // Only plain decimals: digits, one '.', a leading '-', an optional exponent.
    for (const char c : latin) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+')) {
            return std::nullopt;
        }
    }
    double value = 0;
    const char *end = latin.constData() + latin.size();
    const std::from_chars_result result = std::from_chars(latin.constData(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

bool TField::isNumeric(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

void TField::checkText(const QString &text, const QString &fieldName, int size, qsizetype packetRow)
{
    const qsizetype length = wellFormedTextLength(text);
    if (length < 0) {
        checkValue({fieldName, FieldType::Text, size}, text); // refuses it in the packets' own words
    }
    if (length > size) {
        const QString where = packetRow >= 0 ? u", linha %1 do pacote de dados"_s.arg(packetRow + 1) : QString();
        throw EDatabaseError(
            u"Texto longo demais para o campo %1 (máximo %2 caracteres)%3."_s.arg(fieldName).arg(size).arg(where));
    }
}

QVariant TField::convert(const QVariant &value) const
{
    QVariant converted = toFieldForm(value);
    // Texts were checked, once, on their way into the field's form.
    if (converted.isValid() && m_type != FieldType::Text) {
        checkValue(def(), converted);
    }
    return converted;
}

QVariant TField::toFieldForm(const QVariant &value) const
{
    if (isNullValue(value)) {
        return QVariant();
    }
    const QString &name = m_fieldName;
    switch (m_type) {
    case FieldType::Number: {
        double number = 0;
        if (isNumeric(value)) {
            number = value.toDouble();
        } else if (value.typeId() == QMetaType::QString) {
            const QString text = value.toString();
            if (text.trimmed().isEmpty()) {
                return QVariant();
            }
            const std::optional<double> parsed = parseNumber(text);
            if (!parsed) {
                throw EDatabaseError(u"'%1' não é um número válido para o campo %2."_s.arg(text, name));
            }
            number = *parsed;
        } else {
            throw EDatabaseError(u"Valor de tipo inválido para o campo numérico %1."_s.arg(name));
        }
        if (!std::isfinite(number)) {
            throw EDatabaseError(u"Número inválido para o campo %1."_s.arg(name));
        }
        return number;
    }
    case FieldType::DateTime: {
        double days = 0;
        if (isNumeric(value)) {
            days = value.toDouble();
        } else if (value.typeId() == QMetaType::QDateTime) {
            days = DateTime::fromQDateTime(value.toDateTime());
        } else if (value.typeId() == QMetaType::QDate) {
            const QDate date = value.toDate();
            if (!date.isValid()) {
                throw EDatabaseError(u"Data inválida para o campo %1."_s.arg(name));
            }
            days = DateTime::fromDate(date.year(), date.month(), date.day());
        } else if (value.typeId() == QMetaType::QString) {
            const QString text = value.toString();
            if (isBlankDate(text)) {
                return QVariant();
            }
            const std::optional<double> parsed = DateTime::fromText(text);
            if (!parsed) {
                throw EDatabaseError(u"'%1' não é uma data válida para o campo %2."_s.arg(text, name));
            }
            days = *parsed;
        } else {
            throw EDatabaseError(u"Valor de tipo inválido para o campo de data %1."_s.arg(name));
        }
        if (!std::isfinite(days)) {
            throw EDatabaseError(u"Data inválida para o campo %1."_s.arg(name));
        }
        return days;
    }
    case FieldType::Text: {
        QString text;
        if (value.typeId() == QMetaType::QString) {
            text = value.toString();
        } else if (isNumeric(value)) {
            const double number = value.toDouble();
            if (!std::isfinite(number)) {
                throw EDatabaseError(u"Número inválido para o campo %1."_s.arg(name));
            }
            text = formatNumber(number);
        } else if (value.canConvert<QString>()) {
            text = value.toString();
        } else {
            throw EDatabaseError(u"Valor de tipo inválido para o campo de texto %1."_s.arg(name));
        }
        checkText(text, name, m_size);
        return text;
    }
    }
    return QVariant();
}

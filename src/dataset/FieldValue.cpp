#include "FieldValue.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "NullValue.h"

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

namespace FieldValue {

QString formatNumber(double value)
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

std::optional<double> parseNumber(const QString &text)
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

bool isNumeric(const QVariant &value)
{
    return isNumericType(value.metaType());
}

bool isNumericType(QMetaType type)
{
    switch (type.id()) {
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

void checkText(const QString &text, const QString &fieldName, int size, qsizetype packetRow)
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

QVariant toFieldForm(const FieldDef &field, const QVariant &value)
{
    if (isNullValue(value)) {
        return QVariant();
    }
    const QString &name = field.name;
    switch (field.type) {
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
        checkText(text, name, field.size);
        return text;
    }
    }
    return QVariant();
}

QVariant convert(const FieldDef &field, const QVariant &value)
{
    QVariant converted = toFieldForm(field, value);
    // Texts were checked, once, on their way into the field's form.
    if (converted.isValid() && field.type != FieldType::Text) {
        checkValue(field, converted);
    }
    return converted;
}

double read(const QVariant &stored, FieldType storedType, FieldType wanted, const QString &fieldName)
{
    if (!stored.isValid()) {
        return 0;
    }
    if (storedType != FieldType::Text) {
        return stored.toDouble();
    }
    const QString text = stored.toString();
    if (text.trimmed().isEmpty()) {
        return 0;
    }
    if (wanted == FieldType::DateTime) {
        if (const std::optional<double> days = DateTime::fromText(text)) {
            return *days;
        }
        throw EDatabaseError(u"'%1' não é uma data válida (campo %2)."_s.arg(text, fieldName));
    }
    if (const std::optional<double> number = parseNumber(text)) {
        return *number;
    }
    throw EDatabaseError(u"'%1' não é um número válido (campo %2)."_s.arg(text, fieldName));
}

} // namespace FieldValue

#include "TField.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "TClientDataSet.h"

#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

TField::TField(TClientDataSet *dataSet, const QString &fieldName, FieldType type, int size, bool calculated)
    : QObject(dataSet)
    , m_dataSet(dataSet)
    , m_fieldName(fieldName)
    , m_type(type)
    , m_size(type == FieldType::Text ? size : 0)
    , m_calculated(calculated)
{
}

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

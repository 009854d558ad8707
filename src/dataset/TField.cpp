#include "TField.h"

#include "DateTime.h"
#include "Exceptions.h"
#include "FieldValue.h"
#include "TClientDataSet.h"

#include <cmath>

using namespace Qt::StringLiterals;

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
        return FieldValue::formatNumber(value.toDouble());
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
    return FieldValue::read(Value(), m_type, FieldType::Number, m_fieldName);
}

void TField::setAsFloat(double value)
{
    if (m_type == FieldType::Text) {
        if (!std::isfinite(value)) {
            refuse(u"Número inválido"_s);
        }
        setValue(FieldValue::formatNumber(value));
        return;
    }
    setValue(value);
}

double TField::AsDateTime() const
{
    return FieldValue::read(Value(), m_type, FieldType::DateTime, m_fieldName);
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

QVariant TField::convert(const QVariant &value) const
{
    return FieldValue::convert(def(), value);
}

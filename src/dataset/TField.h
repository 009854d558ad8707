#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

#include "Packet.h"
#include "dataset_export.h"

class TClientDataSet;
class TField;

// Get-text: fills text with what a display (displayText true) or an editor
// (displayText false) shows for the field of the current row.
using TFieldGetTextEvent = std::function<void(TField *sender, QString &text, bool displayText)>;
// Set-text: replaces the field's own conversion of typed text.
using TFieldSetTextEvent = std::function<void(TField *sender, const QString &text)>;

// One field of a record set; its objectName is "<dataset name><FIELDNAME>",
// e.g. cdsProcessosDTINIVIGENCIA. Values are read from and written to the
// record set's current row (or the row a view is asking about).
class DATASET_EXPORT TField : public QObject
{
    Q_OBJECT
public:
    TField(TClientDataSet *dataSet, const QString &fieldName, FieldType type, int size, bool calculated);

    TClientDataSet *DataSet() const { return m_dataSet; }
    const QString &FieldName() const { return m_fieldName; }
    FieldType DataType() const { return m_type; }
    int Size() const { return m_size; }
    bool Calculated() const { return m_calculated; }
    int Index() const; // position in the record set's field list
    FieldDef def() const { return {m_fieldName, m_type, m_type == FieldType::Text ? m_size : 0}; }

    QString DisplayLabel() const { return m_displayLabel.isEmpty() ? m_fieldName : m_displayLabel; }
    void setDisplayLabel(const QString &label) { m_displayLabel = label; }
    // In characters; 0 means the type's default (text size, or 10 for numbers, 18 for dates).
    int DisplayWidth() const;
    void setDisplayWidth(int width) { m_displayWidth = width; }
    bool Visible() const { return m_visible; }
    void setVisible(bool visible) { m_visible = visible; }
    int Tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    QString EditMask() const { return m_editMask; }
    void setEditMask(const QString &mask) { m_editMask = mask; }

    // Raw value: QVariant() for null, double for Number and DateTime, QString for Text.
    QVariant Value() const;
    // Assigning needs the record set in edit or insert state (or calculating
    // fields, for a calculated field). Converts from double/int/QString as the
    // field's type needs; a text longer than Size() throws EDatabaseError.
    void setValue(const QVariant &value);

    QString AsString() const; // null -> ""; numbers without needless decimals; dates dd/MM/yyyy [hh:mm:ss]
    void setAsString(const QString &text);
    double AsFloat() const; // null -> 0
    void setAsFloat(double value);
    double AsDateTime() const; // null -> 0
    void setAsDateTime(double value);

    bool IsNull() const;
    void Clear();
    // The value as last saved: the original of the change log for a modified
    // row, the current stored value for an unchanged one, null for a row not
    // yet saved.
    QVariant OldValue() const;

    // What a display shows (get-text with displayText true, or AsString).
    QString DisplayText() const;
    // What an editor starts from (get-text with displayText false, or AsString).
    QString Text() const;
    // Typed text: through the set-text handler when attached, else setAsString.
    void setText(const QString &text);

    TFieldGetTextEvent OnGetText;
    TFieldSetTextEvent OnSetText;

    // Asks whatever shows this field to put the input focus on its cell.
    void FocusControl();

signals:
    void focusRequested(TField *field);

private:
    friend class TClientDataSet;
    [[noreturn]] void refuse(const QString &what) const;

    // An assigned value in the field's own form, or refused (FieldValue::convert).
    QVariant convert(const QVariant &value) const;

    int m_index = -1;
    TClientDataSet *m_dataSet;
    QString m_fieldName;
    FieldType m_type;
    int m_size;
    bool m_calculated;
    QString m_displayLabel;
    int m_displayWidth = 0;
    bool m_visible = true;
    int m_tag = 0;
    QString m_editMask;
};

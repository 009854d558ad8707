#pragma once

#include <QFont>
#include <QString>
#include <Qt>

#include "framework_export.h"

class TDBGridColumns;
class TField;

enum TColumnButtonStyle { cbsAuto, cbsEllipsis, cbsNone };

// One grid column, showing one field by name. A change to it is told to its
// collection, which the model and the view follow.
class FRAMEWORK_EXPORT TColumn
{
public:
    TColumn(TDBGridColumns *collection, const QString &fieldName);

    TDBGridColumns *Collection() const { return m_collection; }
    int Index() const; // position in its collection
    QString FieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);
    TField *Field() const; // nullptr while the record set lacks it

    QString Title() const; // caption; default the field's DisplayLabel
    void setTitle(const QString &title);
    int Width() const; // pixels; default from the field's DisplayWidth
    void setWidth(int pixels);
    Qt::Alignment Alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);
    Qt::Alignment TitleAlignment() const { return m_titleAlignment; }
    void setTitleAlignment(Qt::Alignment alignment);
    bool ReadOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly);
    TColumnButtonStyle ButtonStyle() const { return m_buttonStyle; }
    void setButtonStyle(TColumnButtonStyle style);
    bool Visible() const { return m_visible; }
    void setVisible(bool visible);
    int Tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

private:
    // Stores a new value and tells the collection, only when it differs.
    template <typename T>
    void change(T &member, const T &value);

    TDBGridColumns *m_collection;
    QString m_fieldName;
    QString m_title;
    int m_width = -1;
    // The width measured from the font, kept while font, characters and
    // title stay the same: every refill of the grid asks for it again.
    struct Measured
    {
        QFont font;
        int chars = -1;
        QString title;
        int width = 0;
    };
    mutable Measured m_measured;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    Qt::Alignment m_titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool m_readOnly = false;
    TColumnButtonStyle m_buttonStyle = cbsAuto;
    bool m_visible = true;
    int m_tag = 0;
};

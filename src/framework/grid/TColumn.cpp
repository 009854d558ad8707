#include "TColumn.h"

#include <QFontMetrics>

#include "TClientDataSet.h"
#include "TDBGridColumns.h"

using namespace Qt::StringLiterals;

TColumn::TColumn(TDBGridColumns *collection, const QString &fieldName)
    : m_collection(collection)
    , m_fieldName(fieldName)
{ }

template <typename T>
void TColumn::change(T &member, const T &value)
{
    if (member == value) {
        return;
    }
    member = value;
    m_collection->notifyChanged(this);
}

int TColumn::Index() const
{
    return m_collection->indexOf(this);
}

void TColumn::setFieldName(const QString &name)
{
    change(m_fieldName, name);
}

TField *TColumn::Field() const
{
    TClientDataSet *ds = m_collection->dataSet();
    return ds ? ds->FindField(m_fieldName) : nullptr;
}

QString TColumn::Title() const
{
    if (!m_title.isNull()) {
        return m_title;
    }
    if (TField *f = Field()) {
        return f->DisplayLabel();
    }
    return m_fieldName;
}

void TColumn::setTitle(const QString &title)
{
    // An empty caption stays empty: only a column never given one shows the label.
    change(m_title, title.isNull() ? u""_s : title);
}

int TColumn::Width() const
{
    if (m_width >= 0) {
        return m_width;
    }
    const QFont font = m_collection->font();
    int chars = 10;
    if (TField *f = Field()) {
        chars = f->DisplayWidth();
    }
    const QString title = Title();
    if (m_measured.chars != chars || m_measured.title != title || m_measured.font != font) {
        const QFontMetrics fm(font);
        const int dataWidth = chars * fm.averageCharWidth() + 8;
        const int titleWidth = fm.horizontalAdvance(title) + 8;
        m_measured = {font, chars, title, qMax(dataWidth, titleWidth)};
    }
    return m_measured.width;
}

void TColumn::setWidth(int pixels)
{
    change(m_width, qMax(0, pixels));
}

void TColumn::setAlignment(Qt::Alignment alignment)
{
    change(m_alignment, alignment);
}

void TColumn::setTitleAlignment(Qt::Alignment alignment)
{
    change(m_titleAlignment, alignment);
}

void TColumn::setReadOnly(bool readOnly)
{
    change(m_readOnly, readOnly);
}

void TColumn::setButtonStyle(TColumnButtonStyle style)
{
    change(m_buttonStyle, style);
}

void TColumn::setVisible(bool visible)
{
    change(m_visible, visible);
}

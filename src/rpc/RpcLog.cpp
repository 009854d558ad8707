#include "RpcLog.h"

using namespace Qt::StringLiterals;

QString loggable(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029 || u == u'\\') {
            out +=
                u < 0x100 ? u"\\x%1"_s.arg(uint(u), 2, 16, QChar(u'0')) : u"\\u%1"_s.arg(uint(u), 4, 16, QChar(u'0'));
        } else {
            out += c;
        }
    }
    return out;
}

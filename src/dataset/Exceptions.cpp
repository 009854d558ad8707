#include "Exceptions.h"

using namespace Qt::StringLiterals;

void Abort()
{
    throw EAbort();
}

QString currentExceptionMessage()
{
    const std::exception_ptr current = std::current_exception();
    if (!current) {
        return {};
    }
    QString message;
    try {
        std::rethrow_exception(current);
    } catch (const EAbort &) {
        message = u"Operação interrompida."_s;
    } catch (const EDatabaseError &e) {
        message = e.message();
    } catch (const std::exception &e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        // Not one of ours nor a standard one: nothing to say but that it happened.
    }
    return message.isEmpty() ? u"Erro inesperado."_s : message;
}

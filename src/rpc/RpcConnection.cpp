#include "RpcConnection.h"

#include <QSslSocket>
#include <QThread>

#include "Exceptions.h"
#include "Packet.h"
#include "RpcAdmission.h"
#include "RpcLog.h"
#include "Secret.h"

using namespace Qt::StringLiterals;

namespace {

// Bytes taken from the socket at a time: the decoder holds at most one frame
// plus this much, however fast a client writes.
constexpr qint64 readChunkBytes = 64 * 1024;
// How long a closing connection may take to hand over its last frame.
constexpr int closeGraceMs = 5'000;
// A failure text from a handler is cut here, so the reply always fits a frame.
constexpr qsizetype maxErrorLength = 16 * 1024;

QString bounded(const QString &text)
{
    return elidedText(text, maxErrorLength);
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 4).replace(u'.', u',');
}

} // namespace

RpcConnection::RpcConnection(QSslSocket *socket, SessionHandlerFactory factory, const RpcServer::Limits &limits)
    : m_socket(socket)
    , m_factory(std::move(factory))
    , m_limits(limits)
    , m_decoder(Frame::maxLoginPayloadBytes)
{
    m_decoder.setAdmitFrame([this](quint32 length, QString *why) { return admitFrame(length, why); });
    m_decoder.setWipesConsumed(true); // until the login is in
    m_loginTimer.setSingleShot(true);
    m_frameTimer.setSingleShot(true);
    m_closeTimer.setSingleShot(true);
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        const QByteArray frame = std::exchange(m_heldAnswer, {});
        if (m_closeAfterAnswer) {
            closeAfterSending(frame);
            return;
        }
        send(frame);
        onReadyRead(); // what came meanwhile
    });
    connect(&m_loginTimer, &QTimer::timeout, this, [this] {
        closeAfterSending(
            RpcWire::errorFrame(u"Nenhum login em %1 s; conexão encerrada pelo servidor de aplicação."_s.arg(
                seconds(m_limits.loginTimeoutMs))));
    });
    connect(&m_frameTimer, &QTimer::timeout, this, [this] {
        closeAfterSending(RpcWire::errorFrame(
            u"Quadro incompleto: nada chegou em %1 s; conexão encerrada pelo servidor de aplicação."_s.arg(
                seconds(m_limits.incompleteFrameTimeoutMs))));
    });
    connect(&m_closeTimer, &QTimer::timeout, this, [this] {
        m_socket->abort();
        endSession();
    });
}

RpcConnection::~RpcConnection()
{
    releaseFrame();
}

// Every frame's memory comes out of the server's budget before a byte of it
// is kept; a frame that does not fit now is refused and the connection closed.
bool RpcConnection::admitFrame(quint32 length, QString *why)
{
    if (!m_admission) {
        return true;
    }
    releaseFrame();
    const qint64 bytes = 3 * qint64(length) + 64 * 1024;
    if (!m_admission->reserveBytes(bytes)) {
        qCWarning(lcRpc).noquote()
            << u"quadro de %1 bytes de %2 recusado: memória do servidor ocupada"_s.arg(length).arg(m_peer);
        *why = u"O servidor de aplicação está sem memória livre para uma mensagem de %1 bytes agora; tente de novo em "
               "instantes."_s.arg(length);
        return false;
    }
    m_heldBytes = bytes;
    return true;
}

void RpcConnection::releaseFrame()
{
    if (m_heldBytes > 0 && m_admission) {
        m_admission->releaseBytes(m_heldBytes);
    }
    m_heldBytes = 0;
}

void RpcConnection::setAdmission(RpcAdmission *admission, std::atomic<int> *phase, std::function<void()> onLoggedIn)
{
    m_admission = admission;
    m_phase = phase;
    m_onLoggedIn = std::move(onLoggedIn);
}

void RpcConnection::start()
{
    m_peer = m_socket->peerAddress().toString();
    if (m_tls.localCertificate().isNull()) {
        connect(m_socket, &QSslSocket::readyRead, this, &RpcConnection::onReadyRead);
    } else {
        connect(m_socket, &QSslSocket::readyRead, this, &RpcConnection::onFirstBytes);
        connect(m_socket, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            if (error == QAbstractSocket::SslHandshakeFailedError) {
                qCInfo(lcRpc).noquote() << u"TLS recusado com %1: %2"_s.arg(m_peer, m_socket->errorString());
            }
        });
    }
    connect(m_socket, &QSslSocket::disconnected, this, &RpcConnection::endSession);
    QString why;
    try {
        m_handler = m_factory();
    } catch (...) {
        why = currentExceptionMessage();
    }
    if (!m_handler) {
        if (why.isEmpty()) {
            why = u"nenhuma sessão foi criada"_s;
        }
        qCWarning(lcRpc) << "session not created:" << why;
        closeAfterSending(
            RpcWire::errorFrame(bounded(u"O servidor de aplicação não pôde abrir a sessão: %1"_s.arg(why))));
        return;
    }
    m_loginTimer.start(m_limits.loginTimeoutMs);
}

void RpcConnection::finish(const QString &why)
{
    m_answerTimer.stop();
    m_loginTimer.stop();
    m_frameTimer.stop();
    m_closeTimer.stop();
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        if (!why.isEmpty() && !m_closing) {
            m_socket->write(RpcWire::errorFrame(why));
        }
        m_socket->disconnectFromHost();
    }
    if (m_socket->state() != QAbstractSocket::UnconnectedState) {
        // Our own thread is ending: a short blocking wait lets the last frame out.
        m_socket->waitForDisconnected(1000);
    }
    m_socket->abort();
    m_handler.reset();
}

// A TLS server looks at the first byte before it starts the handshake: a
// TLS client opens with a handshake record (22); anything else is a client
// speaking plain frames, which is told in plain words why it is refused.
void RpcConnection::onFirstBytes()
{
    char first = 0;
    if (m_socket->peek(&first, 1) < 1) {
        return;
    }
    disconnect(m_socket, &QSslSocket::readyRead, this, &RpcConnection::onFirstBytes);
    connect(m_socket, &QSslSocket::readyRead, this, &RpcConnection::onReadyRead);
    if (first != 0x16) {
        m_socket->readAll(); // dropped, so that the close is not a reset
        qCInfo(lcRpc).noquote() << u"cliente sem TLS recusado: %1"_s.arg(m_peer);
        closeAfterSending(RpcWire::errorFrame(
            u"O servidor de aplicação só aceita conexões criptografadas (TLS); configure o cliente com o certificado "
            "do servidor (arquivo de CA ou impressão digital SHA-256)."_s));
        return;
    }
    m_socket->setSslConfiguration(m_tls);
    m_socket->startServerEncryption();
}

// An allocation that fails while a frame is read or handled ends this
// connection only; the server and its other sessions go on.
void RpcConnection::onReadyRead()
{
    if (m_answerTimer.isActive()) {
        return; // read once the refusal is out, in order
    }
    try {
        readFrames();
    } catch (const std::bad_alloc &) {
        qCWarning(lcRpc).noquote() << u"memória esgotada numa mensagem de %1; conexão encerrada"_s.arg(m_peer);
        m_decoder.clear();
        releaseFrame();
        m_closing = true;
        m_socket->abort();
        endSession();
    }
}

void RpcConnection::readFrames()
{
    while (m_socket->bytesAvailable() > 0) {
        QByteArray chunk = m_socket->read(readChunkBytes);
        if (m_closing) {
            continue; // read and dropped, so that closing does not reset the connection
        }
        m_decoder.feed(std::move(chunk));
        QByteArray payload;
        for (;;) {
            const FrameDecoder::Status status = m_decoder.next(&payload);
            if (status == FrameDecoder::Status::Frame) {
                handlePayload(payload);
                releaseFrame();
                if (m_closing || m_socket->state() != QAbstractSocket::ConnectedState) {
                    break;
                }
                continue;
            }
            if (status == FrameDecoder::Status::Error) {
                qCInfo(lcRpc) << "bad frame:" << m_decoder.errorString();
                closeAfterSending(RpcWire::errorFrame(m_decoder.errorString() + u" Conexão encerrada."_s));
            }
            break;
        }
    }
    if (m_closing) {
        return;
    }
    // A frame left halfway must keep coming; otherwise the connection ends.
    if (m_decoder.hasPartialFrame()) {
        m_frameTimer.start(m_limits.incompleteFrameTimeoutMs);
    } else {
        m_frameTimer.stop();
    }
}

void RpcConnection::handlePayload(QByteArray &payload)
{
    RpcMessage message = RpcWire::parse(payload);
    // The message holds a copy of what it needs. Before login the frame may
    // hold a password in clear: zeroed, not only let go.
    if (m_loggedIn) {
        payload = QByteArray();
    } else {
        Secret::wipe(payload);
    }
    switch (message.kind) {
    case RpcMessage::Kind::Login:
        handleLogin(message);
        return;
    case RpcMessage::Kind::Call:
        handleCall(message);
        return;
    case RpcMessage::Kind::Invalid:
        qCInfo(lcRpc) << "bad message:" << message.error;
        if (message.id && message.type == u"call") {
            send(RpcWire::failureFrame(*message.id, message.error));
        } else if (message.type == u"login") {
            send(RpcWire::loginFailureFrame(message.error));
        } else {
            send(RpcWire::errorFrame(message.error));
        }
        return;
    default:
        send(RpcWire::errorFrame(
            u"Mensagem inválida: o tipo \"%1\" é enviado pelo servidor, não pelo cliente."_s.arg(message.type)));
        return;
    }
}

void RpcConnection::handleLogin(RpcMessage &message)
{
    // Zeroed however the login ends; the handler's copies share this one.
    struct WipePassword
    {
        QString &password;
        ~WipePassword() { Secret::wipe(password); }
    } wipePassword{message.password};
    if (m_loggedIn) {
        send(RpcWire::loginFailureFrame(u"Esta sessão já fez login."_s));
        return;
    }
    // A run of refused logins for this operator, address or prefix makes the
    // next password wait, whichever connection it comes through; the attempt
    // is counted before the check, so concurrent guesses cannot all pass.
    RpcAdmission::Attempt attempt;
    if (m_admission) {
        if (const qint64 waitMs = m_admission->begin(&attempt, message.operatorCode, m_peer, message.token);
            waitMs > 0) {
            refuseLogin(
                u"Muitas tentativas de login sem sucesso; aguarde %1 s e tente de novo."_s.arg((waitMs + 999) / 1000));
            return;
        }
    }
    if (m_phase) {
        int pending = RpcAdmission::Pending;
        if (!m_phase->compare_exchange_strong(pending, RpcAdmission::Checking)) {
            if (m_admission) {
                m_admission->undo(attempt);
            }
            return; // evicted meanwhile: the session is ending
        }
    }
    // Back to an evictable connection unless the login is admitted below.
    struct BackToPending
    {
        std::atomic<int> *phase;
        ~BackToPending()
        {
            int checking = RpcAdmission::Checking;
            if (phase) {
                phase->compare_exchange_strong(checking, RpcAdmission::Pending);
            }
        }
    } backToPending{m_phase};
    SessionHandler::LoginResult result;
    QString failure;
    try {
        result = m_handler->login({message.server, message.operatorCode, message.password, m_peer, attempt.trusted});
    } catch (const EAbort &) {
        failure = u"O login foi interrompido no servidor de aplicação."_s;
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const std::exception &) {
        failure = currentExceptionMessage();
    } catch (...) {
        qCWarning(lcRpc) << "login: unknown exception";
        failure = u"Erro interno do servidor de aplicação durante o login."_s;
    }
    if (!failure.isEmpty() || (!result.ok && !result.counts)) {
        // Not the client's fault: no failure is counted, nor a refusal of this connection.
        if (m_admission) {
            m_admission->undo(attempt);
        }
        answerLater(RpcWire::loginFailureFrame(bounded(failure.isEmpty() ? result.error : failure)), false);
        return;
    }
    if (result.ok) {
        QString full;
        if (m_admission && !m_admission->admit(*m_phase, attempt.operatorCode, m_peer, &full)) {
            m_admission->undo(attempt);
            closeAfterSending(RpcWire::loginFailureFrame(full));
            return;
        }
        m_loggedIn = true;
        m_operator = attempt.operatorCode;
        m_loginTimer.stop();
        m_decoder.setMaxPayload(Frame::maxPayloadBytes);
        m_decoder.setWipesConsumed(false);
        const QString token = m_admission ? m_admission->succeeded(attempt) : QString();
        if (m_onLoggedIn) {
            m_onLoggedIn();
        }
        send(RpcWire::loginReplyFrame(bounded(result.unitName), bounded(result.operatorName), token));
        return;
    }
    if (m_admission) {
        // Counted for the device when it gave its token, for the address otherwise.
        const int inARow = m_admission->failed(attempt);
        const QString counted = inARow <= 0
                                    ? QString()
                                    : u" (%1ª falha seguida %2)"_s.arg(inARow).arg(
                                        attempt.trusted ? u"com o token deste dispositivo"_s : u"deste endereço"_s);
        qCWarning(lcRpc).noquote() << u"login recusado: operador \"%1\" de %2%3"_s.arg(
            loggable(elidedText(message.operatorCode, 40)), m_peer, counted);
    }
    refuseLogin(result.error.isEmpty() ? u"Operador ou senha inválidos."_s : bounded(result.error));
}

void RpcConnection::refuseLogin(QString why)
{
    ++m_failedLogins;
    if (m_failedLogins >= m_limits.maxFailedLogins) {
        why += u" Conexão encerrada após %1 tentativas sem sucesso."_s.arg(m_failedLogins);
        answerLater(RpcWire::loginFailureFrame(why), true);
        return;
    }
    answerLater(RpcWire::loginFailureFrame(why), false);
}

// A refused login is answered after a short pause, during which nothing more
// is read from this connection: it costs the server no work, and a flood of
// refused logins cannot spin connections faster than real hosts open theirs.
void RpcConnection::answerLater(const QByteArray &frame, bool close)
{
    if (m_limits.loginRefusalDelayMs <= 0) {
        close ? closeAfterSending(frame) : send(frame);
        return;
    }
    m_heldAnswer = frame;
    m_closeAfterAnswer = close;
    m_answerTimer.start(m_limits.loginRefusalDelayMs);
}

void RpcConnection::handleCall(const RpcMessage &message)
{
    const quint64 id = *message.id;
    if (!m_loggedIn) {
        send(RpcWire::failureFrame(id, u"Chamada recusada: a sessão ainda não fez login."_s));
        return;
    }
    send(invoke(message));
}

// The connection boundary: whatever the handler throws becomes a failure reply.
QByteArray RpcConnection::invoke(const RpcMessage &call)
{
    const quint64 id = *call.id;
    QString failure;
    try {
        const QCborValue value = m_handler->call(call.method, call.args);
        if (!RpcWire::isWireValue(value)) {
            qCWarning(lcRpc) << "method" << call.method << "returned a value of type" << value.type();
            return RpcWire::failureFrame(id,
                                         u"O método %1 devolveu um valor que não pode ser enviado."_s.arg(call.method));
        }
        QByteArray frame = RpcWire::replyFrame(id, value);
        if (frame.isEmpty()) {
            return RpcWire::failureFrame(
                id, u"A resposta do método %1 excede o limite de %2 bytes por mensagem."_s.arg(call.method)
                        .arg(Frame::maxPayloadBytes));
        }
        return frame;
    } catch (const EAbort &) {
        failure = u"A operação %1 foi interrompida no servidor de aplicação."_s.arg(call.method);
    } catch (const std::bad_alloc &) {
        throw; // ends this connection, not the server
    } catch (const std::exception &) {
        failure = currentExceptionMessage();
    } catch (...) {
        qCWarning(lcRpc) << "method" << call.method << "threw an unknown exception";
        failure = u"Erro interno do servidor de aplicação no método %1."_s.arg(call.method);
    }
    if (failure.isEmpty()) {
        failure = u"O método %1 falhou no servidor de aplicação."_s.arg(call.method);
    }
    return RpcWire::failureFrame(id, bounded(failure));
}

void RpcConnection::send(const QByteArray &frame)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        return; // the peer is gone; the session is ending
    }
    if (m_socket->write(frame) < 0) {
        qCInfo(lcRpc) << "write failed:" << m_socket->errorString();
        m_socket->abort();
        endSession();
        return;
    }
    // Out now, in this call, rather than on the event loop's next turn.
    m_socket->flush();
}

void RpcConnection::closeAfterSending(const QByteArray &frame)
{
    if (m_closing) {
        return;
    }
    m_closing = true;
    m_loginTimer.stop();
    m_frameTimer.stop();
    m_decoder.clear();
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->write(frame);
        m_socket->disconnectFromHost();
    }
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        endSession();
        return;
    }
    m_closeTimer.start(closeGraceMs);
}

void RpcConnection::endSession()
{
    m_answerTimer.stop();
    releaseFrame();
    m_loginTimer.stop();
    m_frameTimer.stop();
    m_closeTimer.stop();
    QThread::currentThread()->quit();
}

#include "RpcClient.h"

#include <QHostAddress>

#include <QSslCertificate>
#include <QSslSocket>
#include <QSslConfiguration>

#include <cctype>
#include <optional>

#include "Packet.h"
#include "Secret.h"

using namespace Qt::StringLiterals;

namespace {

int effectiveTimeout(int timeoutMs)
{
    return timeoutMs > 0 ? timeoutMs : RpcClient::defaultTimeoutMs;
}

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

int g_slowAfterMs = 0;
void (*g_slowHook)() = nullptr;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 4).replace(u'.', u',');
}

} // namespace

RpcClient::RpcClient()
    : m_socket(std::make_unique<QTcpSocket>())
{ }

void RpcClient::setSlowWaitHook(int afterMs, void (*hook)())
{
    g_slowAfterMs = qMax(0, afterMs);
    g_slowHook = hook;
}

RpcClient::~RpcClient()
{
    close();
}

bool RpcClient::open(const QString &host, quint16 port, const QString &serverName, const QString &operatorCode,
                     const QString &password, int timeoutMs, QString *error)
{
    return startOpen(host, port, serverName, operatorCode, password, timeoutMs, error) && finishOpen(error);
}

bool RpcClient::startOpen(const QString &host, quint16 port, const QString &serverName, const QString &operatorCode,
                          const QString &password, int timeoutMs, QString *error)
{
    close();
    m_refusedFingerprint.clear();
    timeoutMs = effectiveTimeout(timeoutMs);
    const QDeadlineTimer deadline(timeoutMs);
    if (const QString why = connectTo(host, port, deadline, timeoutMs); !why.isEmpty()) {
        return openFailed(why, error);
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QByteArray login = RpcWire::loginFrame(serverName, operatorCode, password, m_deviceToken);
    m_loginWritten = write(login, deadline);
    Secret::wipe(login); // written by now: the socket's buffer has let it go
    m_opening = true;
    m_openDeadline = deadline;
    m_openTimeoutMs = timeoutMs;
    return true;
}

bool RpcClient::openFailed(const QString &why, QString *error)
{
    close();
    if (error) {
        *error = why;
    }
    return false;
}

bool RpcClient::finishOpen(QString *error)
{
    const auto fail = [this, error](const QString &why) { return openFailed(why, error); };
    if (!m_opening) {
        return isOpen() || fail(u"Não há conexão com o servidor de aplicação."_s);
    }
    m_opening = false;
    RpcMessage reply;
    QString failure;
    if (read(m_loginWritten, m_openDeadline, m_openTimeoutMs, &reply, &failure) != Outcome::Received) {
        return fail(failure);
    }
    if (reply.kind == RpcMessage::Kind::LoginReply) {
        if (!reply.ok) {
            return fail(reply.error.isEmpty() ? u"O servidor de aplicação recusou o login."_s : reply.error);
        }
        m_loggedIn = true;
        m_unitName = reply.unitName;
        m_operatorName = reply.operatorName;
        if (!reply.token.isEmpty()) {
            m_deviceToken = reply.token;
        }
        return true;
    }
    if (reply.kind == RpcMessage::Kind::Error) {
        return fail(reply.error);
    }
    return fail(u"Resposta inválida do servidor de aplicação ao login."_s);
}

void RpcClient::useSocket(bool tls)
{
    if ((qobject_cast<QSslSocket *>(m_socket.get()) != nullptr) != tls) {
        m_socket = tls ? std::make_unique<QSslSocket>() : std::make_unique<QTcpSocket>();
    }
}

QString RpcClient::connectTo(const QString &host, quint16 port, const QDeadlineTimer &deadline, int timeoutMs)
{
    const QString where = u"%1:%2"_s.arg(host).arg(port);
    const QString noAnswer = u"O servidor de aplicação em %1 não respondeu em %2 s."_s.arg(where, seconds(timeoutMs));
    if (!m_security.usesTls()) {
        if (!m_security.allowPlain && host.compare(u"localhost"_s, Qt::CaseInsensitive) != 0
            && !QHostAddress(host).isLoopback()) {
            return u"O servidor de aplicação em %1 seria usado sem TLS: a senha passaria sem criptografia pela rede, "
                   "e não foi enviada. Informe a impressão digital do servidor (--server-fingerprint), o certificado "
                   "(--server-ca) ou --tls; numa rede de confiança, --allow-plain."_s.arg(where);
        }
        useSocket(false);
        m_socket->connectToHost(host, port);
        if (m_socket->waitForConnected(remainingMs(deadline))) {
            // A name is judged by where it led: "localhost" mapped elsewhere is not this machine.
            if (!m_security.allowPlain && !m_socket->peerAddress().isLoopback()) {
                m_socket->abort();
                return u"O servidor de aplicação em %1 (%2) seria usado sem TLS fora deste computador: a senha "
                       "passaria sem criptografia pela rede, e não foi enviada. Informe a impressão digital do "
                       "servidor (--server-fingerprint), o certificado (--server-ca) ou --tls; numa rede de "
                       "confiança, --allow-plain."_s.arg(where, m_socket->peerAddress().toString());
            }
            return {};
        }
        return m_socket->error() == QAbstractSocket::SocketTimeoutError
                   ? noAnswer
                   : u"Não foi possível conectar ao servidor de aplicação em %1 (%2)."_s.arg(where,
                                                                                             m_socket->errorString());
    }
    if (!QSslSocket::supportsSsl()) {
        return u"Este computador não tem a biblioteca de criptografia (OpenSSL) de que a conexão TLS precisa."_s;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!m_security.caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(m_security.caFile, QSsl::Pem);
        if (authorities.isEmpty()) {
            return u"O arquivo de certificados confiáveis %1 não existe ou não tem certificados (PEM)."_s.arg(
                m_security.caFile);
        }
        configuration.setCaCertificates(authorities);
    }
    if (!m_security.fingerprint.isEmpty()) {
        // The fingerprint, checked below before anything is sent, is the trust.
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    useSocket(true);
    auto *tls = static_cast<QSslSocket *>(m_socket.get());
    tls->setSslConfiguration(configuration);
    tls->connectToHostEncrypted(host, port);
    if (!tls->waitForEncrypted(remainingMs(deadline))) {
        const QList<QSslError> errors = tls->sslHandshakeErrors();
        if (!errors.isEmpty()) {
            QStringList texts;
            for (const QSslError &e : errors) {
                texts << e.errorString();
                if (m_refusedFingerprint.isEmpty() && !e.certificate().isNull()) {
                    m_refusedFingerprint = e.certificate().digest(QCryptographicHash::Sha256);
                }
            }
            if (const QSslCertificate seen = tls->peerCertificate(); !seen.isNull()) {
                m_refusedFingerprint = seen.digest(QCryptographicHash::Sha256);
            }
            return u"O certificado do servidor de aplicação em %1 não é confiável (%2). A conexão foi recusada e a "
                   "senha não foi enviada."_s.arg(where, texts.join(u"; "_s));
        }
        switch (m_socket->error()) {
        case QAbstractSocket::SocketTimeoutError:
            return noAnswer;
        case QAbstractSocket::ConnectionRefusedError:
        case QAbstractSocket::HostNotFoundError:
        case QAbstractSocket::NetworkError:
            return u"Não foi possível conectar ao servidor de aplicação em %1 (%2)."_s.arg(where,
                                                                                           m_socket->errorString());
        default:
            return u"Não foi possível abrir uma conexão criptografada (TLS) com o servidor de aplicação em %1 (%2). "
                   "Verifique se o servidor usa TLS."_s.arg(where, m_socket->errorString());
        }
    }
    if (!m_security.fingerprint.isEmpty()) {
        const QByteArray got = tls->peerCertificate().digest(QCryptographicHash::Sha256);
        if (got != m_security.fingerprint) {
            m_refusedFingerprint = got;
            return u"O certificado do servidor de aplicação em %1 não confere com a impressão digital configurada "
                   "(esperada %2, recebida %3). A conexão foi recusada e a senha não foi enviada."_s.arg(
                       where, RpcSecurity::formatFingerprint(m_security.fingerprint),
                       RpcSecurity::formatFingerprint(got));
        }
    }
    return {};
}

bool RpcSecurity::parseFingerprint(const QString &text, QByteArray *fingerprint)
{
    QString hex = text.trimmed();
    hex.remove(u':');
    if (hex.size() != 64) {
        return false;
    }
    for (const QChar c : std::as_const(hex)) {
        if (!isxdigit(c.unicode() < 128 ? c.toLatin1() : 'x')) {
            return false;
        }
    }
    *fingerprint = QByteArray::fromHex(hex.toLatin1());
    return true;
}

QString RpcSecurity::formatFingerprint(const QByteArray &fingerprint)
{
    return QString::fromLatin1(fingerprint.toHex(':').toUpper());
}

void RpcClient::close()
{
    // Nothing is ever pending when a synchronous client closes: drop at once.
    m_socket->abort();
    m_decoder.clear();
    m_loggedIn = false;
    m_opening = false;
    m_posted.clear();
    m_unitName.clear();
    m_operatorName.clear();
}

bool RpcClient::isOpen() const
{
    return m_loggedIn && m_socket->state() == QAbstractSocket::ConnectedState;
}

RpcReply RpcClient::call(const QString &method, const QCborArray &args, int timeoutMs)
{
    // The slow mark counts from here, the writing of the call included.
    m_slowAt = QDeadlineTimer(g_slowAfterMs);
    m_slowTold = !g_slowHook;
    std::optional<RpcReply> reply;
    const int limit = effectiveTimeout(timeoutMs);
    while (!m_posted.isEmpty() && !reply) {
        const Posted posted = m_posted.takeFirst();
        RpcReply answer = receive(posted.id, posted.method, posted.written, QDeadlineTimer(limit), limit);
        // An answer nobody asks for is dropped, unless the connection ended
        // with it: its reason is this call's.
        if ((posted.method == method && posted.args == args) || !isOpen()) {
            reply = std::move(answer);
        }
    }
    if (!reply) {
        reply = send(method, args, timeoutMs);
    }
    m_slowTold = true; // the waits of opening and posting tell nothing
    reply->method = method;
    return *reply;
}

bool RpcClient::post(const QString &method, const QCborArray &args)
{
    if (!isOpen() && !m_opening) {
        return false;
    }
    quint64 id = 0;
    RpcReply refused;
    const QByteArray frame = callFrame(method, args, &id, &refused);
    if (!frame.isEmpty()) {
        m_posted.append({id, method, args, write(frame, QDeadlineTimer(defaultTimeoutMs))});
    }
    return !frame.isEmpty();
}

QByteArray RpcClient::callFrame(const QString &method, const QCborArray &args, quint64 *id, RpcReply *refused)
{
    // Mistakes of the caller fail the call only; the session stays usable.
    if (method.isEmpty() || textLength(method) > Frame::maxMethodNameLength) {
        *refused = RpcReply::failure(u"Nome de método inválido: \"%1\"."_s.arg(elidedText(method, 64)));
        return {};
    }
    if (args.size() > Frame::maxArguments) {
        *refused = RpcReply::failure(u"A chamada %1 tem mais de %2 argumentos."_s.arg(method).arg(Frame::maxArguments));
        return {};
    }
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (!RpcWire::isWireValue(args.at(i))) {
            *refused = RpcReply::failure(
                u"O argumento %1 da chamada %2 não pode ser enviado: só nulo, número finito, texto ou pacote."_s
                    .arg(i + 1)
                    .arg(method));
            return {};
        }
    }
    QByteArray frame = RpcWire::callFrame(m_nextId, method, args);
    if (frame.isEmpty()) {
        *refused = RpcReply::failure(
            u"A chamada %1 excede o limite de %2 bytes por mensagem."_s.arg(method).arg(Frame::maxPayloadBytes));
        return {};
    }
    *id = m_nextId++;
    return frame;
}

RpcReply RpcClient::send(const QString &method, const QCborArray &args, int timeoutMs)
{
    if (!isOpen()) {
        return RpcReply::failure(u"Não há conexão com o servidor de aplicação."_s);
    }
    timeoutMs = effectiveTimeout(timeoutMs);
    quint64 id = 0;
    RpcReply refused;
    const QByteArray frame = callFrame(method, args, &id, &refused);
    const QDeadlineTimer deadline(timeoutMs);
    return frame.isEmpty() ? refused : receive(id, method, write(frame, deadline), deadline, timeoutMs);
}

RpcReply RpcClient::receive(quint64 id, const QString &method, Outcome written, const QDeadlineTimer &deadline,
                            int timeoutMs)
{
    RpcMessage reply;
    QString failure;
    if (read(written, deadline, timeoutMs, &reply, &failure) != Outcome::Received) {
        close();
        return RpcReply::failure(failure);
    }
    if (reply.kind == RpcMessage::Kind::CallReply && reply.id == id) {
        if (reply.ok) {
            return RpcReply::success(RpcWire::normalized(reply.value));
        }
        return RpcReply::failure(reply.error.isEmpty()
                                     ? u"O servidor de aplicação recusou a chamada %1 sem dizer o motivo."_s.arg(method)
                                     : reply.error);
    }
    // Anything else means client and server no longer agree on the stream.
    close();
    if (reply.kind == RpcMessage::Kind::Error) {
        return RpcReply::failure(reply.error);
    }
    if (reply.kind == RpcMessage::Kind::CallReply) {
        return RpcReply::failure(
            u"Resposta inválida do servidor de aplicação: esperada a resposta %1, chegou a %2."_s.arg(id).arg(
                reply.id.value_or(0)));
    }
    return RpcReply::failure(u"Resposta inválida do servidor de aplicação à chamada %1."_s.arg(method));
}

QString RpcClient::unitName() const
{
    return m_unitName;
}

QString RpcClient::operatorName() const
{
    return m_operatorName;
}

RpcClient::Outcome RpcClient::write(const QByteArray &frame, const QDeadlineTimer &deadline)
{
    // A frame that came in while idle (the server said why it is closing)
    // is read as the answer, so its text reaches the user.
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        return Outcome::Received;
    }
    m_socket->write(frame);
    // Written at once when the kernel takes it; waited for otherwise.
    m_socket->flush();
    return waitForWritten(deadline);
}

RpcClient::Outcome RpcClient::read(Outcome written, const QDeadlineTimer &deadline, int timeoutMs, RpcMessage *reply,
                                   QString *failure)
{
    Outcome outcome = written;
    QString detail;
    QByteArray payload;
    if (outcome == Outcome::Received || outcome == Outcome::Lost) {
        const Outcome read = waitForFrame(deadline, &payload);
        outcome = read == Outcome::Received || outcome == Outcome::Received ? read : outcome;
        if (read == Outcome::BadFrame) {
            detail = m_decoder.errorString();
        }
    }
    if (outcome == Outcome::Received) {
        *reply = RpcWire::parse(payload);
        if (reply->kind == RpcMessage::Kind::Invalid) {
            outcome = Outcome::BadFrame;
            detail = reply->error;
        }
    }
    if (outcome != Outcome::Received) {
        *failure = outcomeText(outcome, timeoutMs, detail);
    }
    return outcome;
}

bool RpcClient::slowMarkFirst(const QDeadlineTimer &deadline) const
{
    return !m_slowTold && m_slowAt.deadline() < deadline.deadline();
}

int RpcClient::waitLimit(const QDeadlineTimer &deadline) const
{
    return remainingMs(slowMarkFirst(deadline) ? m_slowAt : deadline);
}

bool RpcClient::slowMarkPassed(const QDeadlineTimer &deadline)
{
    if (!slowMarkFirst(deadline) || m_socket->state() != QAbstractSocket::ConnectedState) {
        return false;
    }
    m_slowTold = true;
    g_slowHook();
    return true;
}

RpcClient::Outcome RpcClient::waitForWritten(const QDeadlineTimer &deadline)
{
    while (m_socket->bytesToWrite() > 0) {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            return Outcome::Lost;
        }
        if (!m_socket->waitForBytesWritten(waitLimit(deadline))) {
            if (slowMarkPassed(deadline)) {
                continue;
            }
            return m_socket->error() == QAbstractSocket::SocketTimeoutError ? Outcome::TimedOut : Outcome::Lost;
        }
    }
    return Outcome::Received;
}

RpcClient::Outcome RpcClient::waitForFrame(const QDeadlineTimer &deadline, QByteArray *payload)
{
    for (;;) {
        switch (m_decoder.next(payload)) {
        case FrameDecoder::Status::Frame:
            return Outcome::Received;
        case FrameDecoder::Status::Error:
            return Outcome::BadFrame;
        case FrameDecoder::Status::NeedMore:
            break;
        }
        if (m_socket->bytesAvailable() > 0) {
            m_decoder.feed(m_socket->readAll());
            continue;
        }
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            return Outcome::Lost;
        }
        if (deadline.hasExpired()) {
            return Outcome::TimedOut;
        }
        if (!m_socket->waitForReadyRead(waitLimit(deadline))) {
            if (m_socket->bytesAvailable() > 0 || slowMarkPassed(deadline)) {
                continue;
            }
            if (m_socket->error() == QAbstractSocket::SocketTimeoutError
                && m_socket->state() == QAbstractSocket::ConnectedState) {
                return Outcome::TimedOut;
            }
            return Outcome::Lost;
        }
    }
}

QString RpcClient::outcomeText(Outcome outcome, int timeoutMs, const QString &detail) const
{
    switch (outcome) {
    case Outcome::TimedOut:
        return u"O servidor de aplicação não respondeu em %1 s."_s.arg(seconds(timeoutMs));
    case Outcome::Lost:
        return u"A conexão com o servidor de aplicação foi perdida."_s;
    case Outcome::BadFrame:
        return u"Resposta inválida do servidor de aplicação: %1"_s.arg(detail);
    case Outcome::Received:
        break;
    }
    return {};
}

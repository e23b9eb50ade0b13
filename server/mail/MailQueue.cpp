#include "mail/MailQueue.h"

#include "core/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace tbserver {

namespace {

void log(const QString &line) {
    std::fprintf(stderr, "mail: %s\n", qPrintable(line));
    std::fflush(stderr);
}

// rename(2): atomic, and it replaces a file left there by an earlier crash.
bool moveFile(const QString &from, const QString &to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The envelope recipient of a message that lost its state: the address in its To header.
QString recipientFromHeader(const QByteArray &message) {
    const qsizetype end = message.indexOf("\r\n\r\n");
    QByteArray header = message.left(end < 0 ? message.size() : end);
    header.replace("\r\n ", " ").replace("\r\n\t", " ");
    for (const QByteArray &line : header.split('\n')) {
        if (line.toLower().startsWith("to:")) {
            QByteArray value = line.mid(3).trimmed();
            const qsizetype open = value.lastIndexOf('<');
            const qsizetype close = value.lastIndexOf('>');
            if (open >= 0 && close > open) {
                value = value.mid(open + 1, close - open - 1);
            }
            return QString::fromUtf8(value.trimmed());
        }
    }
    return {};
}

} // namespace

MailQueue::MailQueue(const QString &outbox, MailAddress from, SmtpSettings smtp, MailQueueOptions options)
    : m_pending(Outbox::pendingFolder(outbox)), m_sent(Outbox::sentFolder(outbox)),
      m_failed(Outbox::failedFolder(outbox)), m_from(std::move(from)), m_smtp(std::move(smtp)),
      m_options(std::move(options)) {
    for (const QString &folder : {outbox, m_pending, m_sent, m_failed}) {
        makePrivateFolder(folder);
    }
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &MailQueue::deliverNext);
}

MailQueue::~MailQueue() = default;

void MailQueue::start() {
    // A state without its message: the crash came between writing the two, or after the message moved on.
    // Nothing is being written yet, so none of these is half done.
    QDir pending(m_pending);
    for (const QString &file : pending.entryList({u"*.json"_s}, QDir::Files)) {
        if (!pending.exists(file.chopped(5) + u".eml")) {
            pending.remove(file);
        }
    }
    deliverNext();
}

void MailQueue::wake() {
    deliverNext();
}

QString MailQueue::pendingPath(const QString &name, QStringView suffix) const {
    return m_pending + u'/' + name + suffix;
}

MailState MailQueue::stateOf(const QString &name) const {
    QFile file(pendingPath(name, u".json"));
    if (file.open(QIODevice::ReadOnly)) {
        if (std::optional<MailState> state = MailState::fromJson(file.readAll())) {
            return *state;
        }
    }
    MailState state;
    const QString path = pendingPath(name, u".eml");
    QFile message(path);
    if (message.open(QIODevice::ReadOnly)) {
        state.recipient = recipientFromHeader(message.read(64 * 1024));
    }
    state.queuedAt = QFileInfo(path).lastModified().toUTC();
    return state;
}

void MailQueue::deliverNext() {
    if (m_client) {
        return;
    }
    const QDateTime now = m_options.clock();
    QDateTime earliest;
    for (const QString &file : QDir(m_pending).entryList({u"*.eml"_s}, QDir::Files, QDir::Name)) {
        const QString name = file.chopped(4);
        const auto notBefore = m_notBefore.constFind(name);
        if (notBefore == m_notBefore.cend()) {
            deliver(name, stateOf(name));
            return;
        }
        if (notBefore->isValid() && *notBefore <= now) {
            deliver(name, stateOf(name));
            return;
        }
        if (notBefore->isValid() && (!earliest.isValid() || *notBefore < earliest)) {
            earliest = *notBefore;
        }
    }
    if (earliest.isValid()) {
        m_timer.start(std::chrono::milliseconds(
            std::clamp<qint64>(now.msecsTo(earliest), 0, qint64(m_options.retryCap.count()))));
    }
}

void MailQueue::deliver(const QString &name, MailState state) {
    QFile file(pendingPath(name, u".eml"));
    if (!file.open(QIODevice::ReadOnly)) {
        settle(name, state, SmtpClient::Outcome::TemporaryFailure,
               u"cannot read %1: %2"_s.arg(file.fileName(), file.errorString()));
        return;
    }
    if (state.recipient.isEmpty()) {
        settle(name, state, SmtpClient::Outcome::PermanentFailure, u"the message names no recipient"_s);
        return;
    }
    m_client = new SmtpClient(m_smtp, this);
    connect(m_client, &SmtpClient::finished, this,
            [this, name, state](SmtpClient::Outcome outcome, const QString &error) {
                m_client->deleteLater();
                m_client = nullptr;
                settle(name, state, outcome, error);
            });
    m_client->send(m_from.address, state.recipient, file.readAll());
}

void MailQueue::settle(const QString &name, MailState state, SmtpClient::Outcome outcome,
                       const QString &error) {
    const QString message = pendingPath(name, u".eml");
    const QString statePath = pendingPath(name, u".json");
    // The next message, once this call has returned.
    QMetaObject::invokeMethod(this, &MailQueue::deliverNext, Qt::QueuedConnection);
    if (outcome == SmtpClient::Outcome::Sent) {
        m_notBefore.remove(name);
        // The message first: a crash between the two moves leaves only a state without its message.
        if (!moveFile(message, m_sent + u'/' + name + u".eml")) {
            m_notBefore.insert(name, QDateTime()); // not again while this server runs
            log(u"sent %1 to %2, but cannot move it to %3: it is sent again at the next start"_s.arg(
                name, state.recipient, m_sent));
            return;
        }
        moveFile(statePath, m_sent + u'/' + name + u".json");
        log(u"sent %1 to %2 (attempt %3)"_s.arg(name, state.recipient, QString::number(state.attempts + 1)));
        return;
    }
    state.attempts += 1;
    state.lastError = error;
    const QDateTime now = m_options.clock();
    if (outcome == SmtpClient::Outcome::PermanentFailure ||
        state.queuedAt.msecsTo(now) >= qint64(m_options.giveUpAfter.count())) {
        m_notBefore.remove(name);
        const bool moved = writePrivateFile(m_failed + u'/' + name + u".json", state.toJson()) &&
                           moveFile(message, m_failed + u'/' + name + u".eml");
        if (moved) {
            QFile::remove(statePath);
        } else {
            m_notBefore.insert(name, QDateTime());
        }
        log(u"gave up on %1 to %2 (attempt %3)%4: %5"_s.arg(
            name, state.recipient, QString::number(state.attempts),
            moved ? QString() : u" (but cannot move it to "_s + m_failed + u')', error));
        return;
    }
    std::chrono::milliseconds wait = m_options.retryBase;
    for (int i = 1; i < state.attempts && wait < m_options.retryCap; ++i) {
        wait *= 2;
    }
    wait = std::min(wait, m_options.retryCap);
    state.nextAttempt = now.addMSecs(wait.count());
    m_notBefore.insert(name, state.nextAttempt);
    writePrivateFile(statePath, state.toJson());
    log(u"%1 to %2 not sent (attempt %3), trying again in %4 s: %5"_s.arg(
        name, state.recipient, QString::number(state.attempts),
        QString::number(double(wait.count()) / 1000.0), error));
}

} // namespace tbserver

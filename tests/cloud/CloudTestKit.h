#pragma once

#include "cloud/CloudClient.h"
#include "cloud/SessionStore.h"
#include "records/DeskError.h"
#include "records/Uuid.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTest>
#include <QUuid>
#include <qcorotask.h>

#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace tallybrook::testing {

// Remembers every save together with what the client's session was at that moment, so tests can check
// that the stored item always moves first.
class FakeSessionStore final : public SessionStore {
public:
    struct Save {
        std::optional<CloudSession> saved;
        std::optional<CloudSession> clientSessionAtSave;
    };

    std::optional<CloudSession> load() override {
        ++loads;
        return stored;
    }
    void save(const std::optional<CloudSession> &session) override {
        saves.append({session, client ? client->session() : std::nullopt});
        stored = session;
    }

    std::optional<CloudSession> stored;
    QList<Save> saves;
    int loads = 0;
    const CloudClient *client = nullptr;
};

// What a finished task gave: its value or the text of what it threw.
template<class T>
struct Outcome {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    bool finished = false;
    std::optional<Value> value;
    std::exception_ptr failure;

    [[nodiscard]] bool succeeded() const { return finished && !failure; }
    [[nodiscard]] QString errorText() const {
        if (!failure) {
            return {};
        }
        try {
            std::rethrow_exception(failure);
        } catch (const DeskError &error) {
            return error.message();
        } catch (const std::exception &error) {
            return QStringLiteral("unexpected exception: ") + QString::fromUtf8(error.what());
        } catch (...) {
            return QStringLiteral("unexpected exception");
        }
    }
    template<class E>
    [[nodiscard]] std::optional<E> error() const {
        if (!failure) {
            return std::nullopt;
        }
        try {
            std::rethrow_exception(failure);
        } catch (const E &error) {
            return error;
        } catch (...) {
            return std::nullopt;
        }
    }
};

template<class T>
QCoro::Task<> captureInto(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            outcome->value.emplace();
        } else {
            outcome->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        outcome->failure = std::current_exception();
    }
    outcome->finished = true;
}

// Starts the task now; the outcome fills in when it ends. QCoro::waitFor would hang on a throwing task.
template<class T>
std::shared_ptr<Outcome<T>> start(QCoro::Task<T> task) {
    auto outcome = std::make_shared<Outcome<T>>();
    captureInto(std::move(task), outcome);
    return outcome;
}

template<class T>
Outcome<T> awaitTask(QCoro::Task<T> task, int timeoutMs = 10'000) {
    auto outcome = start(std::move(task));
    // An unfinished outcome tells the test the task hung.
    (void)QTest::qWaitFor([&] { return outcome->finished; }, timeoutMs);
    return *outcome;
}

inline QByteArray tokenAnswer(const QString &access, const QString &refresh, int expiresIn, const QUuid &user,
                              const std::optional<QString> &email = QStringLiteral("desk@example.com")) {
    QJsonObject userObject{{QStringLiteral("id"), uuidLower(user)},
                           {QStringLiteral("aud"), QStringLiteral("authenticated")}};
    if (email) {
        userObject.insert(QStringLiteral("email"), *email);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("access_token"), access},
                                     {QStringLiteral("token_type"), QStringLiteral("bearer")},
                                     {QStringLiteral("expires_in"), expiresIn},
                                     {QStringLiteral("refresh_token"), refresh},
                                     {QStringLiteral("user"), userObject}})
        .toJson(QJsonDocument::Compact);
}

} // namespace tallybrook::testing

#pragma once

#include "records/DeskError.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace tallybrook::testing {

// What a finished task gave: its value or what it threw.
template<class T>
struct Outcome {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    bool finished = false;
    std::optional<Value> value;
    std::exception_ptr failure;

    [[nodiscard]] bool succeeded() const { return finished && !failure; }
    template<class E>
    [[nodiscard]] std::optional<E> error() const {
        try {
            if (failure) {
                std::rethrow_exception(failure);
            }
        } catch (const E &error) {
            return error;
        } catch (...) {
        }
        return std::nullopt;
    }
    // The message of the DeskError it threw, empty when nothing was thrown.
    [[nodiscard]] QString errorText() const {
        const auto error = this->error<DeskError>();
        return error ? error->message() : failure ? QStringLiteral("unexpected exception") : QString();
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

// Runs the event loop until the task has finished (true) or `timeoutMs` have passed. Unlike QTest::qWaitFor
// it never sleeps, so a test waits no longer than its task.
template<class T>
bool waitUntilFinished(const Outcome<T> &outcome, int timeoutMs) {
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    QEventLoop loop;
    do {
        loop.processEvents(outcome.finished ? QEventLoop::AllEvents : QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } while (!outcome.finished && deadline.isActive());
    return outcome.finished;
}

// An unfinished outcome tells the test the task hung.
template<class T>
Outcome<T> awaitTask(QCoro::Task<T> task, int timeoutMs = 10'000) {
    const auto outcome = start(std::move(task));
    waitUntilFinished(*outcome, timeoutMs);
    return *outcome;
}

// Runs a coroutine to its end on the event loop and hands back its value; rethrows what it threw. Gives up
// after `timeout` (empty result, or false for Task<void>), so a coroutine never resumed fails its test
// instead of stalling the run; the abandoned task keeps its state alive and may still finish later.
template<class T>
[[nodiscard]] auto runTask(QCoro::Task<T> task,
                           std::chrono::milliseconds timeout = std::chrono::seconds{10}) {
    const auto outcome = start(std::move(task));
    if (!waitUntilFinished(*outcome, int(timeout.count()))) {
        qWarning("runTask: the task did not finish within %lld ms", static_cast<long long>(timeout.count()));
    } else if (outcome->failure) {
        std::rethrow_exception(outcome->failure);
    }
    if constexpr (std::is_void_v<T>) {
        return outcome->value.has_value();
    } else {
        return std::move(outcome->value);
    }
}

} // namespace tallybrook::testing

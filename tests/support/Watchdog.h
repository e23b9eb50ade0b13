#pragma once

#include <QEventLoop>
#include <QTimer>
#include <QtGlobal>
#include <qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

namespace tallybrook::testing {

namespace detail {

template<typename T>
struct TaskOutcome {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    std::optional<Value> value;
    std::exception_ptr error;
    QEventLoop *loop = nullptr; // set only while runTask is waiting

    [[nodiscard]] bool finished() const { return value.has_value() || error; }
};

// Owns the task, so it keeps running safely if runTask gives up and returns first.
template<typename T>
QCoro::Task<> watchTask(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            outcome->value.emplace();
        } else {
            outcome->value.emplace(co_await task);
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    if (outcome->loop)
        outcome->loop->quit();
}

} // namespace detail

// Runs a coroutine to completion on a local event loop. Unlike QCoro::waitFor it gives up after
// `timeout`, so a coroutine that is never resumed fails its test instead of stalling the run, and
// an exception is rethrown here instead of vanishing inside an unawaited task.
// Returns std::optional<T> (bool for Task<void>): empty/false when the time ran out.
template<typename T>
[[nodiscard]] auto runTask(QCoro::Task<T> task,
                           std::chrono::milliseconds timeout = std::chrono::seconds{10}) {
    auto outcome = std::make_shared<detail::TaskOutcome<T>>();
    const QCoro::Task<> watcher = detail::watchTask(std::move(task), outcome);
    if (!outcome->finished()) {
        QEventLoop loop;
        outcome->loop = &loop;
        QTimer::singleShot(timeout, &loop, [&loop] { loop.quit(); });
        loop.exec();
        outcome->loop = nullptr;
    }
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if (!outcome->finished())
        qWarning("runTask: the task did not finish within %lld ms", static_cast<long long>(timeout.count()));
    if constexpr (std::is_void_v<T>)
        return outcome->value.has_value();
    else
        return std::move(outcome->value);
}

} // namespace tallybrook::testing

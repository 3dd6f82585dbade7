// The one place below the window that starts threads: two jobs at once,
// and a range cut in two halves run at once. Every file of the core that
// runs work on a second core goes through RunBoth or InTwoHalves (the
// window's loading and preview threads are Qt's own).
//
// The second job runs on a std::jthread owned by RunBoth's own frame, so it
// is always joined before RunBoth returns or throws, and no object of the
// caller has to remember to stop or join it.
#pragma once

#include <concepts>
#include <cstddef>
#include <exception>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>

namespace melodrift {

namespace parallel_detail {

// job(stop) when the job takes a std::stop_token, else job().
template <class Job>
decltype(auto) Call(Job& job, std::stop_token stop) {
    if constexpr (std::invocable<Job&, std::stop_token>) {
        return job(std::move(stop));
    } else {
        return job();
    }
}

template <class Job>
using RawResult = decltype(Call(std::declval<Job&>(), std::stop_token{}));

// A job's result as a value: std::monostate for a job that returns nothing.
template <class Job>
using Result = std::conditional_t<std::is_void_v<RawResult<Job>>, std::monostate,
                                  std::decay_t<RawResult<Job>>>;

// Runs `job`, keeping its result or the exception it threw; a throw asks
// the other job to stop.
template <class Job>
struct Outcome {
    std::optional<Result<Job>> value;
    std::exception_ptr error;

    void Run(Job& job, std::stop_source& stop) {
        try {
            if constexpr (std::is_void_v<RawResult<Job>>) {
                Call(job, stop.get_token());
                value.emplace();
            } else {
                value.emplace(Call(job, stop.get_token()));
            }
        } catch (...) {
            error = std::current_exception();
            stop.request_stop();
        }
    }
};

}  // namespace parallel_detail

// Runs `away` on a new thread and `here` on the calling thread at the same
// time and returns {here's result, away's result} once both have ended
// (std::monostate stands for a job that returns nothing). A job may take a
// std::stop_token: it is asked to stop when the other job throws, so that a
// long job can end early; once both have ended the exception is rethrown
// (here's first). If the thread cannot be started, std::system_error is
// thrown before either job runs.
template <class Here, class Away>
auto RunBoth(Here&& here, Away&& away) {
    using HereJob = std::remove_reference_t<Here>;
    using AwayJob = std::remove_reference_t<Away>;
    std::stop_source stop;
    parallel_detail::Outcome<HereJob> hereOutcome;
    parallel_detail::Outcome<AwayJob> awayOutcome;
    {
        std::jthread thread([&awayOutcome, &away, &stop] { awayOutcome.Run(away, stop); });
        hereOutcome.Run(here, stop);
    }  // joined here, also when `here` threw
    if (hereOutcome.error) std::rethrow_exception(hereOutcome.error);
    if (awayOutcome.error) std::rethrow_exception(awayOutcome.error);
    return std::pair{std::move(*hereOutcome.value), std::move(*awayOutcome.value)};
}

// Runs part(first, last) over the half-open range [0, count) and returns
// join(part(0, half), part(half, count)) with half = count / 2, the two
// parts running at once (the second on a new thread, see RunBoth). A range
// of fewer than `worthAThread` items is not split: the result is then
// part(0, count), on the calling thread. A part may take a std::stop_token
// as a third argument, asked to stop when the other part throws. Each part
// must touch only what belongs to its own items, so that the result does
// not depend on the split.
template <class Part, class Join>
auto InTwoHalves(std::size_t count, std::size_t worthAThread, const Part& part, const Join& join) {
    const auto run = [&part](std::size_t first, std::size_t end, std::stop_token stop) {
        if constexpr (std::invocable<const Part&, std::size_t, std::size_t, std::stop_token>) {
            return part(first, end, std::move(stop));
        } else {
            return part(first, end);
        }
    };
    if (count < worthAThread) return run(std::size_t{0}, count, std::stop_token{});
    const std::size_t half = count / 2;
    auto [first, second] = RunBoth(
        [&run, half](std::stop_token stop) { return run(0, half, std::move(stop)); },
        [&run, half, count](std::stop_token stop) { return run(half, count, std::move(stop)); });
    return join(std::move(first), std::move(second));
}

// The same for parts that return nothing.
template <class Part>
void InTwoHalves(std::size_t count, std::size_t worthAThread, const Part& part) {
    const auto counted = [&part](std::size_t first, std::size_t end, std::stop_token stop) {
        if constexpr (std::invocable<const Part&, std::size_t, std::size_t, std::stop_token>) {
            part(first, end, std::move(stop));
        } else {
            part(first, end);
        }
        return std::monostate{};
    };
    InTwoHalves(count, worthAThread, counted,
                [](std::monostate, std::monostate) { return std::monostate{}; });
}

}  // namespace melodrift

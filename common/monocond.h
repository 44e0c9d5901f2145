// A condition variable whose timed waits run on the steady clock, for
// std::unique_lock<std::mutex>. std::condition_variable does the same, but
// from GCC 10's headers its steady-clock waits call pthread_cond_clockwait,
// which needs glibc 2.30; here the wait is pthread_cond_timedwait on a
// condition bound to CLOCK_MONOTONIC, which glibc 2.28 has.
#pragma once

#include <chrono>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <utility>

class VtMonoCond
{
public:
    using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC on Linux

    VtMonoCond()
    {
        pthread_condattr_t attr;
        pthread_condattr_init(&attr);
        pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
        pthread_cond_init(&m_cond, &attr);
        pthread_condattr_destroy(&attr);
    }
    ~VtMonoCond() { pthread_cond_destroy(&m_cond); }
    VtMonoCond(const VtMonoCond&) = delete;
    VtMonoCond& operator=(const VtMonoCond&) = delete;

    void notify_one() { pthread_cond_signal(&m_cond); }
    void notify_all() { pthread_cond_broadcast(&m_cond); }

    void wait(std::unique_lock<std::mutex>& lock) { pthread_cond_wait(&m_cond, lock.mutex()->native_handle()); }
    template <class Pred>
    void wait(std::unique_lock<std::mutex>& lock, Pred pred)
    {
        while (!pred())
            wait(lock);
    }

    // False when the deadline passed first.
    bool wait_until(std::unique_lock<std::mutex>& lock, Clock::time_point deadline)
    {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
        if (ns < 0)
            return false;
        timespec ts;
        ts.tv_sec = time_t(ns / 1000000000);
        ts.tv_nsec = long(ns % 1000000000);
        pthread_cond_timedwait(&m_cond, lock.mutex()->native_handle(), &ts);
        return Clock::now() < deadline;
    }
    // The value of pred() at the end.
    template <class Pred>
    bool wait_until(std::unique_lock<std::mutex>& lock, Clock::time_point deadline, Pred pred)
    {
        while (!pred())
            if (!wait_until(lock, deadline))
                return pred();
        return true;
    }
    template <class Rep, class Period, class Pred>
    bool wait_for(std::unique_lock<std::mutex>& lock, const std::chrono::duration<Rep, Period>& timeout, Pred pred)
    {
        return wait_until(lock, Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout), std::move(pred));
    }

private:
    pthread_cond_t m_cond;
};

#include "tick_driver.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace trellikon {

std::int64_t SteadyTickClock::nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadyTickClock::sleepUntilMs(std::int64_t ms) {
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms)));
}

void ManualTickClock::sleepUntilMs(std::int64_t ms) {
    now = std::max(now, ms);
}

TickDriver::TickDriver(TickClock& clock, std::function<void()> timer1, std::function<void()> timer2)
    : clock_(clock), timer1_(std::move(timer1)), timer2_(std::move(timer2)) {
    restart();
}

void TickDriver::restart() {
    const std::int64_t now = clock_.nowMs();
    next1_ = now + kTimer1Ms;
    next2_ = now + kTimer2Ms;
}

std::int64_t TickDriver::nextDueMs() const {
    return std::min(next1_, next2_);
}

void TickDriver::fire(Tick which, std::int64_t& due, std::int64_t interval) {
    clock_.sleepUntilMs(due);
    if (beforeTick)
        beforeTick(which);
    const std::int64_t activated = clock_.nowMs();
    due += interval;
    if (due < activated)
        due = activated + interval;
    (which == Tick::Timer1 ? timer1_ : timer2_)();
    if (afterTick)
        afterTick(which);
}

TickDriver::Tick TickDriver::step() {
    if (next1_ <= next2_) {
        fire(Tick::Timer1, next1_, kTimer1Ms);
        return Tick::Timer1;
    }
    fire(Tick::Timer2, next2_, kTimer2Ms);
    return Tick::Timer2;
}

void TickDriver::fireTimer1Now() {
    std::int64_t due = clock_.nowMs();
    fire(Tick::Timer1, due, kTimer1Ms);
    next1_ = due;
}

TickDriver::Run TickDriver::runUntil(const std::function<bool()>& done, std::int64_t limitMs) {
    const std::int64_t start = clock_.nowMs();
    Run run;
    for (;;) {
        if (done()) {
            run.done = true;
            return run;
        }
        if (nextDueMs() - start > limitMs)
            return run;
        if (whileWaiting && whileWaiting(nextDueMs()))
            continue;
        if (step() == Tick::Timer1)
            ++run.timer1Ticks;
    }
}

TickDriver::Run TickDriver::runTicksUntil(const std::function<bool()>& done, int maxTimer1Ticks) {
    Run run;
    while (!(run.done = done()) && run.timer1Ticks < maxTimer1Ticks) {
        if (whileWaiting && whileWaiting(nextDueMs()))
            continue;
        if (step() == Tick::Timer1)
            ++run.timer1Ticks;
    }
    return run;
}

} // namespace trellikon

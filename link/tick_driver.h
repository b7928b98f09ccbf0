#pragma once
// The main window's two link timers without a window: Timer1 every 1000 ms and
// Timer2 every 300 ms, fired in time order on a clock of the caller's choice.
// The command-line session runs them on the steady clock; the virtual line and
// the tests run them on a clock that moves only when the driver waits, so that
// seconds of ticks take no time and never depend on the machine's speed.
//
// As in a single-threaded event loop, one timer fires at a time (Timer1 first
// when both are due), a handler that blocks delays whatever is due meanwhile,
// and a late timer fires once: it keeps its own beat, or, when that point has
// passed already, comes one interval after it fired.

#include <cstdint>
#include <functional>

namespace trellikon {

// Time for the ticks, in milliseconds.
class TickClock {
  public:
    virtual ~TickClock() = default;
    virtual std::int64_t nowMs() = 0;
    // Returns once the clock has reached `ms` (at once if it has).
    virtual void sleepUntilMs(std::int64_t ms) = 0;
};

class SteadyTickClock final : public TickClock {
  public:
    std::int64_t nowMs() override;
    void sleepUntilMs(std::int64_t ms) override;
};

// Time that moves only when it is slept on.
class ManualTickClock final : public TickClock {
  public:
    std::int64_t nowMs() override { return now; }
    void sleepUntilMs(std::int64_t ms) override;
    std::int64_t now = 0;
};

class TickDriver {
  public:
    static constexpr std::int64_t kTimer1Ms = 1000;
    static constexpr std::int64_t kTimer2Ms = 300;
    enum class Tick { Timer1, Timer2 };

    // The timers start at once: the first Timer2 300 ms from now, the first
    // Timer1 1000 ms from now.
    TickDriver(TickClock& clock, std::function<void()> timer1, std::function<void()> timer2);

    // Both timers start over from now, as when the window's timers are started.
    void restart();
    // Lets the clock reach the next due timer and fires it.
    Tick step();
    // Fires Timer1 now, and its beat starts over from here.
    void fireTimer1Now();
    std::int64_t nextDueMs() const;

    struct Run {
        bool done = false; // `done` held; otherwise the limit was reached
        int timer1Ticks = 0;
    };
    // Fires the timers until `done` holds (asked before every tick) or the
    // next tick would come more than `limitMs` after the call.
    Run runUntil(const std::function<bool()>& done, std::int64_t limitMs);
    // The same until `done` or `maxTimer1Ticks` Timer1 ticks.
    Run runTicksUntil(const std::function<bool()>& done, int maxTimer1Ticks);

    TickClock& clock() { return clock_; }

    // Called when the clock has reached a tick, just before its handler: a test
    // lets the line deliver what is due by then.
    std::function<void(Tick)> beforeTick;
    // Called after each handler.
    std::function<void(Tick)> afterTick;
    // Called before the driver waits for the next tick. Work of its own that
    // it does then (an early tick, a short sleep) returns true, and the driver
    // asks `done` again before going on.
    std::function<bool(std::int64_t nextDueMs)> whileWaiting;

  private:
    void fire(Tick which, std::int64_t& due, std::int64_t interval);

    TickClock& clock_;
    std::function<void()> timer1_, timer2_;
    std::int64_t next1_ = 0, next2_ = 0;
};

} // namespace trellikon

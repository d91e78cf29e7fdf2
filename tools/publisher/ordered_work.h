#pragma once
// Numbered tasks run on a pool of threads, their results handed to the caller in task order. At most `window`
// tasks are started and not yet handed over, so memory stays bounded however long the list is, and whatever
// the pool's size the caller sees the same results in the same order.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct OrderedWorkSettings {
    size_t jobs = 1;    // worker threads
    size_t window = 2;  // tasks started but not yet handed over; raised to jobs when smaller
    std::chrono::milliseconds tick{250};
};

template <typename Result>
class OrderedWork {
public:
    OrderedWork(size_t count, const OrderedWorkSettings& settings)
        : count_(count),
          jobs_(std::max<size_t>(settings.jobs, 1)),
          window_(std::max(settings.window, jobs_)),
          tick_(settings.tick),
          slots_(window_) {}

    // Runs work(worker, index) -> Result on the jobs threads (worker numbers them from 0) and
    // take(index, Result&) -> bool on this thread in index order; take returning false stops the run, and
    // tasks not started by then never start. idle() runs on this thread after each tick spent waiting.
    // True when every result was taken; false after a take said stop, or with failure set when a task threw.
    template <typename Work, typename Take, typename Idle>
    bool run(Work work, Take take, Idle idle, std::string& failure) {
        Workers workers(*this);
        for (size_t worker = 0; worker < jobs_; ++worker)
            workers.threads.emplace_back([this, worker, &work] { workLoop(worker, work); });
        for (size_t index = 0; index < count_; ++index) {
            Slot slot = waitForSlot(index, idle);
            if (!slot.result) {
                failure = slot.failure;
                return false;
            }
            if (!take(index, *slot.result)) return false;
        }
        return true;
    }

private:
    struct Slot {
        std::optional<Result> result;
        std::string failure;  // what a task that threw said
        bool filled = false;
    };

    // Joins the threads on every way out of run(), after telling them to stop.
    struct Workers {
        explicit Workers(OrderedWork& owner) : work(owner) {}
        ~Workers() {
            {
                std::lock_guard<std::mutex> lock(work.mutex_);
                work.stopped_ = true;
            }
            work.slotFree_.notify_all();
            for (std::thread& thread : threads) thread.join();
        }
        OrderedWork& work;
        std::vector<std::thread> threads;
    };

    template <typename Work>
    void workLoop(size_t worker, Work& work) {
        for (;;) {
            size_t index = 0;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                slotFree_.wait(lock, [this] { return stopped_ || next_ >= count_ || next_ < taken_ + window_; });
                if (stopped_ || next_ >= count_) return;
                index = next_++;
            }
            Slot slot;
            try {
                slot.result.emplace(work(worker, index));
            } catch (const std::exception& error) {
                slot.failure = error.what();
            } catch (...) {
                slot.failure = "an unknown failure";
            }
            slot.filled = true;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[index % window_] = std::move(slot);
            }
            resultReady_.notify_all();
        }
    }

    template <typename Idle>
    Slot waitForSlot(size_t index, Idle& idle) {
        std::unique_lock<std::mutex> lock(mutex_);
        Slot& slot = slots_[index % window_];
        while (!slot.filled) {
            if (!resultReady_.wait_for(lock, tick_, [&slot] { return slot.filled; })) {
                lock.unlock();
                idle();
                lock.lock();
            }
        }
        Slot taken = std::move(slot);
        slot = Slot();
        taken_ = index + 1;
        lock.unlock();
        slotFree_.notify_all();
        return taken;
    }

    const size_t count_;
    const size_t jobs_;
    const size_t window_;
    const std::chrono::milliseconds tick_;
    std::mutex mutex_;
    std::condition_variable resultReady_;
    std::condition_variable slotFree_;
    std::vector<Slot> slots_;  // task index % window_
    size_t next_ = 0;          // the next task to start
    size_t taken_ = 0;         // tasks handed over
    bool stopped_ = false;
};

// The same as a call: OrderedWork<Result>(count, settings).run(work, take, idle, failure).
template <typename Result, typename Work, typename Take, typename Idle>
bool runInOrder(size_t count, const OrderedWorkSettings& settings, Work work, Take take, Idle idle,
                std::string& failure) {
    OrderedWork<Result> pool(count, settings);
    return pool.run(work, take, idle, failure);
}

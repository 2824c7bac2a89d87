// IOwnerThread: how worker threads reach the one thread that owns tasks, items, slots and views.
#pragma once

#include <functional>

namespace pellix {

// Every change to a task, a queue item, a slot or a view runs on the owner thread. Workers hand
// it functions: Post to queue one and go on, Call to run one there and wait for it.
// Functions run one at a time, in the order they were queued. Never hold a lock while calling
// Call: the owner thread may need that lock to get to the function.
class IOwnerThread {
public:
    virtual ~IOwnerThread() = default;

    // Queues fn and returns at once. False when the owner thread has stopped: fn never runs.
    virtual bool Post(std::function<void()> fn) = 0;

    // Runs fn on the owner thread and returns after it has run; an exception thrown by fn
    // reaches the caller. Called on the owner thread itself, fn runs at once, inline.
    // False when the owner thread has stopped: fn never runs and the call does not wait.
    virtual bool Call(std::function<void()> fn) = 0;

    virtual bool IsOwnerThread() const = 0;
};

} // namespace pellix

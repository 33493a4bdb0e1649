#pragma once
// A ring of slots that pass from the thread that fills them (the reading and the
// conversion of a SigMF conversion) through several stages at once, each on a thread
// of its own (the writing of the data files, the SHA-512 of each): every stage sees
// every slot given, in order, straight from the slot's memory, and a slot is filled
// again only once every stage is done with it. A failure of a stage is rethrown to the
// filler by the next take() or by finish(); the other stages then stop too.
// A thread that waits is woken only once a batch of slots (a quarter of the ring) is
// there for it, so that the stages and the filler run in bursts rather than waking one
// another at every slot. Where the system refuses the stages their threads, give()
// does every stage's work on the filler's thread.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace cli {

class SlotStages {
public:
    // Called on stage `stage`'s own thread (or the filler's) with each slot given, in order.
    using Work = std::function<void(size_t stage, size_t slot)>;

    SlotStages(size_t slotCount, size_t stages, Work work);
    // Stops every stage, done or not (what is still queued is dropped).
    ~SlotStages();
    SlotStages(const SlotStages&) = delete;
    SlotStages& operator=(const SlotStages&) = delete;

    size_t slotCount() const { return slots_; }
    // The slot to fill next (0 .. slotCount() - 1, in turn), once every stage is done with
    // what it held before; rethrows a stage's failure.
    size_t take();
    // The slot from take() is filled: every stage may start on it.
    void give();
    // Returns once every stage is done with every slot given; rethrows a stage's failure.
    void finish();

private:
    struct Stage {
        uint64_t done = 0;  // slots this stage has finished
        bool waiting = false;
        std::condition_variable wake;
        std::thread thread;
    };
    void run(size_t stage);
    void stopThreads();  // every stage's thread stopped and joined
    uint64_t slowest() const;
    bool fillerMayGo() const;
    void rethrowFailure();

    size_t slots_;
    size_t batch_;  // slots a waiting thread is woken for
    Work work_;
    std::mutex mutex_;
    std::condition_variable filler_;  // the filler waits here for a slot or for the end
    std::vector<std::unique_ptr<Stage>> stages_;
    uint64_t given_ = 0;
    bool fillerWaiting_ = false;
    bool finishing_ = false;  // in finish(): every slot given is to be done
    bool stopping_ = false;
    bool here_ = false;  // no threads: the stages' work is done in give()
    std::exception_ptr failure_;
};

}  // namespace cli

// The pieces of a SigMF conversion's data path: the values of every 16-bit code in
// every datatype and stride against the rules stated in the metadata, and the ring of
// slots that the writing and hashing stages read in order while the next are filled.

#include "adc_codes.h"
#include "sigmf_stages.h"
#include "sigmf_values.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Value k of out in the datatype's layout, read back little-endian into its bits.
uint32_t storedBits(const std::vector<unsigned char>& out, size_t bytes, size_t k)
{
    uint32_t bits = 0;
    for (size_t b = 0; b < bytes; ++b)
        bits |= uint32_t(out[k * bytes + b]) << (8 * b);
    return bits;
}

// What the metadata promises for a code, as the bits of the stored value.
uint32_t expectedBits(cli::SigmfDatatype datatype, uint16_t code)
{
    switch (datatype) {
    case cli::SigmfDatatype::Rf32: {
        const float volts = static_cast<float>(codeToVolts(code));  // the double rule, rounded once
        uint32_t bits;
        std::memcpy(&bits, &volts, 4);
        return bits;
    }
    case cli::SigmfDatatype::Ri16:
        return uint16_t(int16_t(int32_t(code) - 2048));
    case cli::SigmfDatatype::Ru16:
        return code;
    }
    return 0;
}

}  // namespace

TEST(SigmfValues, EveryCodeInEveryDatatypeAndStride)
{
    struct Case {
        cli::SigmfDatatype datatype;
        size_t bytes;
        size_t codes;  // 0 .. codes - 1, every code the datatype holds
    };
    for (const Case& c : {Case{cli::SigmfDatatype::Rf32, 4, 65536},
                          Case{cli::SigmfDatatype::Ri16, 2, cli::MaxRi16Code + 1},
                          Case{cli::SigmfDatatype::Ru16, 2, 65536}})
        for (const size_t stride : {size_t(1), size_t(3)})
            for (size_t first = 0; first < stride; ++first) {
                // Code k at first + k * stride (in a scrambled order), the other channels' codes beside it.
                std::vector<uint16_t> codes(c.codes * stride + 2, 4095);
                for (size_t k = 0; k < c.codes; ++k)
                    codes[first + k * stride] = uint16_t((k * 40503) % c.codes);
                std::vector<unsigned char> out(c.codes * c.bytes + 1, 0xEE);
                ASSERT_TRUE(cli::convertCodeValues(c.datatype, codes.data() + first, stride, c.codes, out.data()));
                EXPECT_EQ(out.back(), 0xEE) << "nothing beyond the values";
                for (size_t k = 0; k < c.codes; ++k)
                    ASSERT_EQ(storedBits(out, c.bytes, k), expectedBits(c.datatype, codes[first + k * stride]))
                        << cli::sigmfDatatypeName(c.datatype) << " stride " << stride << " value " << k;
            }
}

TEST(SigmfValues, Ri16RefusesCodesAboveItsRange)
{
    struct Case {
        uint16_t code;
        size_t at;  // where in the run it stands
        bool fits;
    };
    for (const Case& c : {Case{uint16_t(cli::MaxRi16Code), 0, true}, Case{uint16_t(cli::MaxRi16Code + 1), 0, false},
                          Case{uint16_t(cli::MaxRi16Code + 1), 999, false}, Case{65535, 500, false},
                          Case{4095, 7, true}})
        for (const size_t stride : {size_t(1), size_t(3)}) {
            std::vector<uint16_t> codes(1000 * stride, 2048);
            codes[c.at * stride] = c.code;
            std::vector<unsigned char> out(2000);
            EXPECT_EQ(cli::convertCodeValues(cli::SigmfDatatype::Ri16, codes.data(), stride, 1000, out.data()), c.fits)
                << c.code << " at " << c.at << " stride " << stride;
            // The other datatypes take any 16-bit code.
            std::vector<unsigned char> wide(4000);
            EXPECT_TRUE(cli::convertCodeValues(cli::SigmfDatatype::Rf32, codes.data(), stride, 1000, wide.data()));
            EXPECT_TRUE(cli::convertCodeValues(cli::SigmfDatatype::Ru16, codes.data(), stride, 1000, out.data()));
        }
}

TEST(SlotStages, EveryStageSeesEverySlotInOrderWhileItHoldsIt)
{
    struct Case {
        size_t slots, stages, items;
        bool slowStage;  // one stage far slower than the filler
    };
    for (const Case& c : {Case{1, 1, 50, false}, Case{4, 3, 2000, false}, Case{16, 4, 3000, false},
                          Case{3, 2, 200, true}}) {
        std::vector<uint64_t> content(c.slots);
        std::vector<std::vector<uint64_t>> seen(c.stages);
        std::atomic<int> changedUnderfoot{0};
        {
            cli::SlotStages ring(c.slots, c.stages, [&](size_t stage, size_t slot) {
                const uint64_t value = content[slot];
                if (c.slowStage && stage == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                else
                    std::this_thread::yield();
                if (content[slot] != value)  // the filler reused the slot too soon
                    ++changedUnderfoot;
                seen[stage].push_back(value);
            });
            for (uint64_t item = 0; item < c.items; ++item) {
                const size_t slot = ring.take();
                EXPECT_EQ(slot, item % c.slots);
                content[slot] = item;
                ring.give();
            }
            ring.finish();
            // Everything is done by finish(), before the ring goes.
            for (size_t s = 0; s < c.stages; ++s) {
                ASSERT_EQ(seen[s].size(), c.items) << "stage " << s;
                for (uint64_t item = 0; item < c.items; ++item)
                    ASSERT_EQ(seen[s][item], item) << "stage " << s;
            }
        }
        EXPECT_EQ(changedUnderfoot.load(), 0);
    }
}

TEST(SlotStages, AStageFailureReachesTheFillerAndStopsTheOthers)
{
    for (const size_t failing : {size_t(0), size_t(2)}) {
        std::atomic<int> afterFailure{0};
        std::atomic<bool> failed{false};
        cli::SlotStages ring(4, 3, [&](size_t stage, size_t slot) {
            if (failed)
                ++afterFailure;
            if (stage == failing && slot == 2) {
                failed = true;
                throw std::runtime_error("disk full");
            }
        });
        std::string caught;
        try {
            for (int item = 0; item < 100000; ++item) {
                ring.take();
                ring.give();
            }
            ring.finish();
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        EXPECT_EQ(caught, "disk full") << "stage " << failing;
        EXPECT_THROW(ring.finish(), std::runtime_error);  // and stays failed
        // The others stop at their next slot: at most the slots in the ring come after.
        EXPECT_LE(afterFailure.load(), 3 * 4);
    }
}

TEST(SlotStages, GivingUpMidwayEndsTheThreads)
{
    std::atomic<int> done{0};
    {
        cli::SlotStages ring(2, 2, [&](size_t, size_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++done;
        });
        for (int item = 0; item < 2; ++item) {
            ring.take();
            ring.give();
        }
    }  // no finish(): the filler failed; the destructor must not hang
    EXPECT_LE(done.load(), 4);
}

// The hand-over of blocks to the second thread: every byte arrives once and in order,
// and a consumer's failure reaches the maker instead of hanging or being lost.

#include "block_pipeline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(BlockPipeline, ConsumesEveryBlockInOrder)
{
    std::vector<unsigned char> consumed;
    std::vector<unsigned char> made;
    {
        cli::BlockPipeline pipe(100, [&](unsigned char* block, size_t used) {
            consumed.insert(consumed.end(), block, block + used);
        });
        for (int k = 0; k < 1000; ++k) {
            unsigned char* block = pipe.take();
            const size_t used = size_t(k % 101);
            for (size_t i = 0; i < used; ++i)
                block[i] = static_cast<unsigned char>(k + i);
            made.insert(made.end(), block, block + used);
            pipe.give(used);
        }
        pipe.finish();
        EXPECT_EQ(consumed, made);  // all of it by finish(), before the pipeline goes
    }
}

TEST(BlockPipeline, AConsumerFailureReachesTheMaker)
{
    cli::BlockPipeline pipe(16, [](unsigned char* block, size_t) {
        if (block[0] == 3)
            throw std::runtime_error("disk full");
    });
    std::string caught;
    try {
        for (unsigned char k = 0; k < 200; ++k) {
            pipe.take()[0] = k;
            pipe.give(1);
        }
        pipe.finish();
    } catch (const std::runtime_error& e) {
        caught = e.what();
    }
    EXPECT_EQ(caught, "disk full");
    EXPECT_THROW(pipe.finish(), std::runtime_error);  // and stays failed
}

TEST(BlockPipeline, GivingUpMidwayEndsTheThread)
{
    int consumed = 0;
    {
        cli::BlockPipeline pipe(16, [&](unsigned char*, size_t) { ++consumed; });
        for (int k = 0; k < 3; ++k) {
            pipe.take()[0] = 1;
            pipe.give(1);
        }
    }  // no finish(): the destructor must not hang
    EXPECT_LE(consumed, 3);
}

}  // namespace

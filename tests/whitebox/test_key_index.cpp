// The key index must find exactly the live slots, whatever order records
// come and go in: a lookup that misses a live trace loses its lines, one that
// finds a stopped trace writes into freed memory.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "trace_state.h"

namespace {

TRACE_RECORD g_dummy;

class KeyIndex : public ::testing::Test {
protected:
    void SetUp() override { ZeroMemory(&g_trace, sizeof(g_trace)); }

    void Insert(DWORD key, int slot)
    {
        g_trace.slotKeys[slot] = key;
        g_trace.records[slot] = &g_dummy;
        IndexRecordSlot(slot);
        live[key] = slot;
    }

    void Remove(DWORD key)
    {
        int slot = live[key];
        UnindexRecordSlot(slot);
        g_trace.records[slot] = nullptr;
        live.erase(key);
    }

    void ExpectConsistent(const std::vector<DWORD> &probes)
    {
        for (const auto &entry : live)
            ASSERT_EQ(FindRecordSlot(entry.first), entry.second) << "key " << entry.first;
        for (DWORD key : probes) {
            if (!live.count(key)) {
                ASSERT_EQ(FindRecordSlot(key), -1) << "stopped key " << key;
            }
        }
    }

    std::map<DWORD, int> live;
};

TEST_F(KeyIndex, RandomStartsAndStopsKeepEveryLookupExact)
{
    std::mt19937 random(12345);
    std::vector<DWORD> keys;
    // Thread ids are small multiples of four; mix in arbitrary ones too.
    for (DWORD i = 1; i <= 600; i++)
        keys.push_back(i % 3 ? i * 4 : random());
    std::vector<int> freeSlots;
    for (int slot = TRACE_MAX_RECORDS - 1; slot >= 0; slot--)
        freeSlots.push_back(slot);

    for (int step = 0; step < 20000; step++) {
        DWORD key = keys[random() % keys.size()];
        if (live.count(key)) {
            freeSlots.push_back(live[key]);
            Remove(key);
        } else if (!freeSlots.empty()) {
            int slot = freeSlots.back();
            freeSlots.pop_back();
            Insert(key, slot);
        }
        if (step % 97 == 0)
            ExpectConsistent(keys);
    }
    ExpectConsistent(keys);
}

TEST_F(KeyIndex, FullTableOfCollidingKeys)
{
    // Keys 512 apart share their low bits; the index must still tell them apart.
    for (int slot = 0; slot < TRACE_MAX_RECORDS; slot++)
        Insert(0x1000 + 512u * slot, slot);
    ExpectConsistent({});
    for (int slot = 0; slot < TRACE_MAX_RECORDS; slot += 2)
        Remove(0x1000 + 512u * slot);
    ExpectConsistent({0x1000, 0x1400});
}

}  // namespace

#include "binding/HandleRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <random>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Peer {
    int fd;
    int timeout;
};

using Registry = orvela::HandleRegistry<Peer>;

jint addPeer(Registry& registry, int fd) {
    return registry.add(std::make_unique<Peer>(Peer{fd, 0}));
}

// A removed record's value is not issued again: a stale handle must not reach a newer record.
TEST(HandleRegistryTest, IssuesDistinctNonZeroHandlesThatResolveToTheirRecordsAndAreNotReused) {
    Registry registry;
    EXPECT_EQ(registry.add(nullptr), 0);
    std::set<jint> seen;
    for (int fd = 0; fd < 200; ++fd) {
        jint handle = addPeer(registry, fd);
        ASSERT_NE(handle, 0);
        ASSERT_TRUE(seen.insert(handle).second) << fd;
        Peer copy{};
        ASSERT_TRUE(registry.copy(handle, &copy));
        EXPECT_EQ(copy.fd, fd);
        if (fd % 2 == 1) registry.remove(handle);
    }
    EXPECT_EQ(registry.size(), 100u);
}

// Zero, removed handles and forged values resolve to nothing, so they never reach memory.
TEST(HandleRegistryTest, ZeroRemovedAndForgedHandlesResolveToNothing) {
    Registry registry;
    jint live = addPeer(registry, 3);
    jint removed = addPeer(registry, 4);
    ASSERT_NE(registry.remove(removed), nullptr);
    EXPECT_EQ(registry.remove(removed), nullptr) << "a record is given out once";
    EXPECT_FALSE(registry.update(removed, [](Peer& p) { p.timeout = 1; }));

    using Limits = std::numeric_limits<jint>;
    std::vector<jint> forged{0, removed, live + 1000, -1, 1, Limits::min(), Limits::max()};
    std::mt19937 random(1234);
    std::uniform_int_distribution<jint> any(Limits::min(), Limits::max());
    for (int i = 0; i < 100000; ++i) forged.push_back(any(random));
    Peer copy{-1, -1};
    for (jint handle : forged) {
        if (handle == live) continue;
        ASSERT_FALSE(registry.copy(handle, &copy)) << handle;
    }
    EXPECT_EQ(copy.fd, -1) << "a failed lookup must leave the caller's copy alone";

    ASSERT_TRUE(registry.update(live, [](Peer& p) { p.timeout = 250; }));
    ASSERT_TRUE(registry.copy(live, &copy));
    EXPECT_EQ(copy.fd, 3);
    EXPECT_EQ(copy.timeout, 250);
}

// Readers copy while another thread removes the same records: every copy is either whole and
// right or refused, and every record is removed exactly once.
TEST(HandleRegistryTest, ConcurrentLookupDuringRemovalSeesWholeRecordsOrNothing) {
    Registry registry;
    constexpr int kRecords = 2000;
    std::vector<jint> handles;
    for (int i = 0; i < kRecords; ++i) {
        handles.push_back(registry.add(std::make_unique<Peer>(Peer{i, i * 2})));
    }

    std::atomic<bool> torn{false};
    std::atomic<int> removedCount{0};
    auto reader = [&] {
        for (int round = 0; round < 20; ++round) {
            for (int i = 0; i < kRecords; ++i) {
                Peer copy{};
                if (registry.copy(handles[i], &copy) && (copy.fd != i || copy.timeout != i * 2)) {
                    torn = true;
                }
            }
        }
    };
    auto remover = [&] {
        for (jint handle : handles) {
            if (registry.remove(handle)) ++removedCount;
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    threads.emplace_back(remover);
    threads.emplace_back(remover);
    for (auto& t : threads) t.join();

    EXPECT_FALSE(torn);
    EXPECT_EQ(removedCount, kRecords);
    EXPECT_EQ(registry.size(), 0u);
}

}  // namespace

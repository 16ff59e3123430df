#include "binding/HandleRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
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

TEST(HandleRegistryTest, IssuesDistinctNonZeroHandlesThatResolveToTheirRecords) {
    Registry registry;
    std::set<jint> seen;
    for (int fd = 0; fd < 100; ++fd) {
        jint handle = addPeer(registry, fd);
        ASSERT_NE(handle, 0);
        ASSERT_TRUE(seen.insert(handle).second);
        Peer copy{};
        ASSERT_TRUE(registry.copy(handle, &copy));
        EXPECT_EQ(copy.fd, fd);
    }
    EXPECT_EQ(registry.size(), 100u);
}

TEST(HandleRegistryTest, ZeroNeverIssuedAndRemovedHandlesResolveToNothing) {
    Registry registry;
    jint live = addPeer(registry, 3);
    jint removed = addPeer(registry, 4);
    ASSERT_NE(registry.remove(removed), nullptr);

    Peer copy{-1, -1};
    EXPECT_FALSE(registry.copy(0, &copy));
    EXPECT_FALSE(registry.copy(removed, &copy));
    EXPECT_FALSE(registry.copy(live + 1000, &copy));
    EXPECT_FALSE(registry.copy(-1, &copy));
    EXPECT_EQ(copy.fd, -1) << "a failed lookup must leave the caller's copy alone";
    EXPECT_EQ(registry.remove(removed), nullptr) << "a record is given out once";
    EXPECT_FALSE(registry.update(removed, [](Peer& p) { p.timeout = 1; }));

    ASSERT_TRUE(registry.copy(live, &copy));
    EXPECT_EQ(copy.fd, 3);
}

TEST(HandleRegistryTest, HandlesAreNotReusedAfterRemoval) {
    Registry registry;
    jint first = addPeer(registry, 1);
    registry.remove(first);
    for (int i = 0; i < 1000; ++i) {
        jint next = addPeer(registry, 2);
        ASSERT_NE(next, first);
        registry.remove(next);
    }
}

TEST(HandleRegistryTest, UpdateChangesTheStoredRecord) {
    Registry registry;
    jint handle = addPeer(registry, 5);
    ASSERT_TRUE(registry.update(handle, [](Peer& p) { p.timeout = 250; }));
    Peer copy{};
    ASSERT_TRUE(registry.copy(handle, &copy));
    EXPECT_EQ(copy.timeout, 250);
}

TEST(HandleRegistryTest, NullRecordGetsNoHandle) {
    Registry registry;
    EXPECT_EQ(registry.add(nullptr), 0);
    EXPECT_EQ(registry.size(), 0u);
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

// The named-pipe natives of Ductway under a real system (Wine): both ends through the natives,
// and each end against a plain Win32 peer process.
//
// Not shown here: that a network logon (whose token lacks S-1-2-0) is refused. Wine has no
// network logons; the access list that refuses them is checked by reading it back instead.
#include <aclapi.h>
#include <sddl.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "binding/ScopedHandle.h"
#include "binding/ScopedLocalFree.h"
#include "tests/cli/ductway/DuctwayFixture.h"
#include "tests/cli/ductway/PeerProcess.h"
#include "tests/support/cpp/OpenDescriptors.h"

namespace orvela::test {
namespace {

using NamedPipeTest = DuctwayTest;

std::string currentUserName() {
    char name[256] = {};
    DWORD size = sizeof(name);
    GetUserNameA(name, &size);
    return name;
}

// Set on the thread whose native a test stalls.
thread_local bool tStalledThread = false;

TEST_F(NamedPipeTest, CreateRefusedBySystemIsIllegalArgumentAndLeavesNothing) {
    jobject server = host_.newInstance(kServerClass);
    jint handle = natives_->serverCreate0(env(), server, host_.newString("not-a-pipe-name"),
                                          kDuplex, kByteMode, 1, 4096, 4096, 0);
    EXPECT_EQ(handle, 0);
    expectThrown("java/lang/IllegalArgumentException");

    std::string name = uniquePipeName();
    jobject first = newServer(name, 1);
    ASSERT_NE(host_.intField(first, "handle"), 0);
    jobject second = host_.newInstance(kServerClass);
    handle = natives_->serverCreate0(env(), second, host_.newString(name), kDuplex, kByteMode, 1,
                                     4096, 4096, 0);
    EXPECT_EQ(handle, 0);
    expectThrown("java/lang/IllegalArgumentException", systemText(ERROR_PIPE_BUSY));
    natives_->serverClose0(env(), first);
    expectNothingPending();
}

TEST_F(NamedPipeTest, InstancesAreCountedAndAdmitOnlyLocalUsers) {
    std::string name = uniquePipeName();
    jobject a = newServer(name);
    jobject b = newServer(name);
    EXPECT_EQ(natives_->getCurrentInstances0(env(), a), 2);
    EXPECT_EQ(natives_->getCurrentInstances0(env(), b), 2);
    expectNothingPending();

    // The access list, read back through a client handle: one entry, read and write for the
    // local group S-1-2-0 (generic rights, or the same rights mapped to the pipe's).
    ScopedHandle reader(CreateFileA(name.c_str(), GENERIC_READ | READ_CONTROL, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader) << GetLastError();
    PACL dacl = nullptr;
    ScopedLocalFree<void> descriptor;
    ASSERT_EQ(GetSecurityInfo(reader.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, descriptor.out()),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    ASSERT_EQ(dacl->AceCount, 1);
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, 0);
    EXPECT_TRUE(ace->Mask == (GENERIC_READ | GENERIC_WRITE) ||
                ace->Mask == (FILE_GENERIC_READ | FILE_GENERIC_WRITE))
        << std::hex << ace->Mask;
    ScopedLocalFree<char> sid;
    ASSERT_TRUE(ConvertSidToStringSidA(&ace->SidStart, sid.out()));
    EXPECT_STREQ(sid.get(), "S-1-2-0");

    natives_->serverClose0(env(), a);
    natives_->serverClose0(env(), b);
    expectNothingPending();
}

TEST_F(NamedPipeTest, ConnectWithoutClientTimesOutAndInstanceStaysUsable) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    natives_->connect0(env(), server, 0);
    expectThrown("java/io/InterruptedIOException", "timeout");
    natives_->connect0(env(), server, 20);
    expectThrown("java/io/InterruptedIOException", "timeout");

    jobject client = connectClient(server, name);
    natives_->clientWrite0(env(), client, bytesOf("up"), 0, 2, 5000);
    EXPECT_EQ(textOf(natives_->serverRead0(env(), server, 5000)), "up");
    expectNothingPending();

    // Disconnected, the instance takes the next client.
    natives_->disconnect0(env(), server);
    natives_->clientClose0(env(), client);
    client = connectClient(server, name);
    closeBoth(server, client);
}

TEST_F(NamedPipeTest, ClientThatArrivesBeforeConnectIsAccepted) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jobject client = newClient(name);
    ASSERT_NE(host_.intField(client, "handle"), 0);
    // The instance is attached already: connect0 returns without waiting for an event.
    natives_->connect0(env(), server, -1);
    expectNothingPending();
    natives_->clientWrite0(env(), client, bytesOf("early"), 0, 5, 5000);
    EXPECT_EQ(textOf(natives_->serverRead0(env(), server, 5000)), "early");
    expectNothingPending();

    // The next connect0 drops the client it handed out before.
    natives_->connect0(env(), server, 0);
    expectThrown("java/io/InterruptedIOException", "timeout");
    EXPECT_EQ(natives_->clientRead0(env(), client, 5000), nullptr);
    expectNothingPending();
    closeBoth(server, client);
}

TEST_F(NamedPipeTest, BothEndsExchangeExactlyWhatWasWritten) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jobject client = connectClient(server, name);

    jstring user = natives_->getClientUserName0(env(), server);
    expectNothingPending();
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(host_.utf(user), currentUserName());

    // Offset and length pick exactly that range.
    natives_->clientWrite0(env(), client, bytesOf("0123456789"), 2, 3, 5000);
    expectNothingPending();
    EXPECT_EQ(textOf(natives_->serverRead0(env(), server, 5000)), "234");

    // A read returns everything waiting, in one array.
    natives_->serverWrite0(env(), server, bytesOf("abc"), 0, 3, 5000);
    natives_->serverWrite0(env(), server, bytesOf("defg"), 0, 4, 5000);
    expectNothingPending();
    EXPECT_EQ(textOf(natives_->clientRead0(env(), client, 5000)), "abcdefg");

    // Nothing waiting: a wait that ends says "timeout", and the end works on afterwards.
    EXPECT_EQ(natives_->clientRead0(env(), client, 0), nullptr);
    expectThrown("java/io/InterruptedIOException", "timeout");
    EXPECT_EQ(natives_->serverRead0(env(), server, 30), nullptr);
    expectThrown("java/io/InterruptedIOException", "timeout");

    // A read that waits (without limit) returns the first byte that arrives; the rest stays
    // for the next.
    std::optional<std::string> first;
    std::thread reader([&] { first = textOf(natives_->serverRead0(host_.env(), server, -1)); });
    Sleep(300);  // lets the reader start waiting before anything is written
    natives_->clientWrite0(env(), client, bytesOf("hello"), 0, 5, 5000);
    reader.join();
    expectNothingPending();
    EXPECT_EQ(first, "h");
    EXPECT_EQ(textOf(natives_->serverRead0(env(), server, 5000)), "ello");

    // A zero-length write sends nothing; flush returns once the other end has read all.
    natives_->serverWrite0(env(), server, bytesOf("xyz"), 3, 0, 5000);
    natives_->serverWrite0(env(), server, bytesOf("z"), 0, 1, 5000);
    std::optional<std::string> drained;
    std::thread drainer(
        [&] { drained = textOf(natives_->clientRead0(host_.env(), client, 20000)); });
    natives_->serverFlush0(env(), server);
    drainer.join();
    expectNothingPending();
    EXPECT_EQ(drained, "z");

    // The other end gone: everything read, then null without exception.
    natives_->clientWrite0(env(), client, bytesOf("bye"), 0, 3, 5000);
    natives_->clientClose0(env(), client);
    expectNothingPending();
    EXPECT_EQ(textOf(natives_->serverRead0(env(), server, 5000)), "bye");
    EXPECT_EQ(natives_->serverRead0(env(), server, 5000), nullptr);
    expectNothingPending();
    natives_->disconnect0(env(), server);
    natives_->serverClose0(env(), server);
    expectNothingPending();
}

TEST_F(NamedPipeTest, ReadIntoTheCallersArrayTakesWhatHasArrivedUpToItsLength) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jobject client = connectClient(server, name);
    jbyteArray buf = bytesOf("..........");

    // Partial reads: the range is filled as far as bytes are there, the rest stays.
    natives_->clientWrite0(env(), client, bytesOf("abcdef"), 0, 6, 5000);
    EXPECT_EQ(natives_->serverRead1(env(), server, buf, 2, 4, 5000), 4);
    EXPECT_EQ(textOf(buf), "..abcd....");
    EXPECT_EQ(natives_->serverRead1(env(), server, buf, 0, 10, 5000), 2);
    EXPECT_EQ(textOf(buf), "efabcd....");
    EXPECT_EQ(natives_->serverRead1(env(), server, buf, 10, 0, 5000), 0);
    expectNothingPending();

    // Nothing arrives: "timeout", and the pipe works on; a waiting read takes what comes.
    natives_->serverRead1(env(), server, buf, 0, 10, 30);
    expectThrown("java/io/InterruptedIOException", "timeout");
    jint first = 0;
    std::thread reader(
        [&] { first = natives_->serverRead1(host_.env(), server, buf, 0, 10, 20000); });
    Sleep(300);  // lets the reader start waiting before anything is written
    natives_->clientWrite0(env(), client, bytesOf("hello"), 0, 5, 5000);
    reader.join();
    expectNothingPending();
    ASSERT_GE(first, 1);
    std::string got = textOf(buf)->substr(0, static_cast<size_t>(first));
    if (first < 5) {
        ASSERT_EQ(natives_->serverRead1(env(), server, buf, 0, 10, 5000), 5 - first);
        got += textOf(buf)->substr(0, static_cast<size_t>(5 - first));
    }
    EXPECT_EQ(got, "hello");

    // The other end gone: -1 without exception, also for the next call.
    natives_->clientClose0(env(), client);
    EXPECT_EQ(natives_->serverRead1(env(), server, buf, 0, 10, 5000), -1);
    EXPECT_EQ(natives_->serverRead1(env(), server, buf, 0, 10, 5000), -1);
    expectNothingPending();
    natives_->serverClose0(env(), server);
    expectNothingPending();
}

TEST_F(NamedPipeTest, StreamOfMixedSizesArrivesIntactThroughTheReusedBuffers) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jobject client = connectClient(server, name);

    // Every byte tells its place in the stream, so bytes left over in a reused buffer from an
    // earlier, longer transfer would show. 1.5 MiB goes beyond what a thread keeps.
    const size_t sizes[] = {100, 200 * 1024, 3, 1536 * 1024, 64 * 1024, 1};
    std::string stream;
    for (size_t size : sizes) {
        for (size_t i = 0; i < size; ++i) stream += static_cast<char>(stream.size() % 251);
    }
    std::string received;
    std::thread reader([&] {
        JNIEnv* readerEnv = host_.env();
        while (received.size() < stream.size()) {
            std::optional<std::string> part =
                textOf(natives_->clientRead0(readerEnv, client, 20000));
            if (!part) break;
            received += *part;
        }
    });
    size_t offset = 0;
    for (size_t size : sizes) {
        natives_->serverWrite0(env(), server, bytesOf(stream.substr(offset, size)), 0,
                               static_cast<jint>(size), 20000);
        expectNothingPending();
        offset += size;
    }
    reader.join();
    expectNothingPending();
    EXPECT_TRUE(received == stream) << "received " << received.size() << " of " << stream.size();
    closeBoth(server, client);
}

TEST_F(NamedPipeTest, TimedOutWriteIsCancelledAndThePipeStaysUsable) {
    std::string name = uniquePipeName();
    jobject server = host_.newInstance(kServerClass);
    host_.setIntField(server, "handle",
                      natives_->serverCreate0(env(), server, host_.newString(name), kDuplex,
                                              kByteMode, 1, 1024, 1024, 0));
    jobject client = connectClient(server, name);

    // Nobody reads: the pipe's buffer fills and a write has to wait, until its time is up.
    std::string block(64 * 1024, 'w');
    int written = 0;
    for (; written < 64; ++written) {
        natives_->serverWrite0(env(), server, bytesOf(block), 0, static_cast<jint>(block.size()),
                               50);
        if (host_.pending()) break;
    }
    ASSERT_LT(written, 64);
    expectThrown("java/io/InterruptedIOException", "timeout");

    // What the cancelled write had moved stays in order before the next write's bytes.
    std::string received;
    std::thread reader([&] {
        JNIEnv* readerEnv = host_.env();
        while (received.size() < 4 || received.compare(received.size() - 4, 4, "done") != 0) {
            std::optional<std::string> part =
                textOf(natives_->clientRead0(readerEnv, client, 20000));
            if (!part) break;
            received += *part;
        }
    });
    natives_->serverWrite0(env(), server, bytesOf("done"), 0, 4, 20000);
    reader.join();
    expectNothingPending();
    ASSERT_GE(received.size(), written * block.size() + 4);
    EXPECT_EQ(received.find_first_not_of('w'), received.size() - 4);
    closeBoth(server, client);
}

TEST_F(NamedPipeTest, RangeOutsideArrayIsRefusedBeforeAnythingIsSentOrRead) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jobject client = newClient(name);
    natives_->connect0(env(), server, 5000);
    expectNothingPending();

    jbyteArray ten = bytesOf("0123456789");
    const jint ranges[][2] = {{-1, 2}, {0, -1}, {8, 3}, {11, 0}, {0x7fffffff, 1}};
    natives_->serverWrite0(env(), server, bytesOf("kept"), 0, 4, 5000);
    for (const auto& range : ranges) {
        natives_->clientWrite0(env(), client, ten, range[0], range[1], 5000);
        expectThrown("java/lang/ArrayIndexOutOfBoundsException");
        natives_->clientRead1(env(), client, ten, range[0], range[1], 5000);
        expectThrown("java/lang/ArrayIndexOutOfBoundsException");
    }
    natives_->clientWrite0(env(), client, nullptr, 0, 1, 5000);
    expectThrown("java/lang/NullPointerException");
    natives_->clientRead1(env(), client, nullptr, 0, 1, 5000);
    expectThrown("java/lang/NullPointerException");
    EXPECT_EQ(natives_->serverRead0(env(), server, 0), nullptr);
    expectThrown("java/io/InterruptedIOException", "timeout");
    EXPECT_EQ(textOf(ten), "0123456789");
    EXPECT_EQ(textOf(natives_->clientRead0(env(), client, 5000)), "kept");

    closeBoth(server, client);
}

TEST_F(NamedPipeTest, ClientOpenOfMissingPipeFailsAtOnce) {
    jobject client = newClient(uniquePipeName());
    EXPECT_EQ(host_.intField(client, "handle"), 0);
    expectThrown("java/io/IOException", systemText(ERROR_FILE_NOT_FOUND));
}

TEST_F(NamedPipeTest, ClosedForgedAndZeroHandlesReachNothing) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jint live = host_.intField(server, "handle");
    ASSERT_NE(live, 0);
    natives_->serverClose0(env(), server);
    expectNothingPending();
    EXPECT_EQ(host_.intField(server, "handle"), 0);
    natives_->serverClose0(env(), server);
    expectThrown("java/io/IOException", "Invalid handle");

    // Stale (closed), forged and zero values: every operation refuses them.
    for (jint value : {live, live + 1, 0x12345678, -1, INT32_MIN, 0}) {
        SCOPED_TRACE(value);
        host_.setIntField(server, "handle", value);
        natives_->connect0(env(), server, 0);
        expectThrown("java/io/IOException", "invalid handle");
        natives_->disconnect0(env(), server);
        expectThrown("java/io/IOException", "invalid handle");
        EXPECT_EQ(natives_->getClientUserName0(env(), server), nullptr);
        expectThrown("java/io/IOException", "invalid handle");
        EXPECT_EQ(natives_->getCurrentInstances0(env(), server), 0);
        expectThrown("java/io/IOException", "invalid handle");
        EXPECT_EQ(natives_->serverRead0(env(), server, 0), nullptr);
        expectThrown("java/io/IOException", "invalid handle");
        natives_->serverWrite0(env(), server, bytesOf("x"), 0, 1, 0);
        expectThrown("java/io/IOException", "invalid handle");
        natives_->serverFlush0(env(), server);
        expectThrown("java/io/IOException", "invalid handle");
        natives_->serverClose0(env(), server);
        expectThrown("java/io/IOException", "Invalid handle");
    }

    // A client's handle is no server's after its close, and closes once.
    jobject other = newServer(name);
    jobject client = newClient(name);
    // Nor ever a server's, nor a server's a client's: each class has records of its own.
    jobject posing = host_.newInstance(kClientClass);
    host_.setIntField(posing, "handle", host_.intField(other, "handle"));
    EXPECT_EQ(natives_->clientRead0(env(), posing, 200), nullptr);
    expectThrown("java/io/IOException", "invalid handle");
    natives_->clientClose0(env(), posing);
    expectThrown("java/io/IOException", "Invalid handle");
    host_.setIntField(server, "handle", host_.intField(client, "handle"));
    natives_->serverWrite0(env(), server, bytesOf("x"), 0, 1, 0);
    expectThrown("java/io/IOException", "invalid handle");
    EXPECT_EQ(natives_->getCurrentInstances0(env(), other), 1);
    expectNothingPending();
    jint clientHandle = host_.intField(client, "handle");
    natives_->clientClose0(env(), client);
    expectNothingPending();
    host_.setIntField(client, "handle", clientHandle);
    natives_->clientClose0(env(), client);
    expectThrown("java/io/IOException", "Invalid handle");
    EXPECT_EQ(natives_->clientRead0(env(), client, 0), nullptr);
    expectThrown("java/io/IOException", "invalid handle");
    natives_->serverClose0(env(), other);
    expectNothingPending();
}

TEST_F(NamedPipeTest, CloseWhileAnotherThreadWaitsEndsTheWaitAndClosesEachHandleOnce) {
    struct Pair {
        jobject server;
        jobject client;
    };
    auto newPair = [&] {
        std::string name = uniquePipeName();
        jobject server = host_.newInstance(kServerClass);
        host_.setIntField(server, "handle",
                          natives_->serverCreate0(env(), server, host_.newString(name), kDuplex,
                                                  kByteMode, 1, 1024, 1024, 0));
        jobject client = newClient(name);
        natives_->connect0(env(), server, 5000);
        return Pair{server, client};
    };
    // The waiter stalls at a JNI call of its own while the close runs: before it copies the
    // record (MonitorEnter), after (MonitorExit), or not at all, when the close meets it
    // anywhere, mostly in its wait.
    const char* const stalls[] = {nullptr, "MonitorExit", "MonitorEnter"};
    std::atomic<const char*> armed{nullptr};
    ScopedHandle reached(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    ScopedHandle resume(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    host_.onEnter([&](const char* slot) {
        const char* want = armed.load();
        if (!tStalledThread || want == nullptr || std::strcmp(slot, want) != 0) return;
        if (!armed.compare_exchange_strong(want, nullptr)) return;
        SetEvent(reached.get());
        WaitForSingleObject(resume.get(), INFINITE);
    });
    // More than the pipe holds, so that a write waits for a reader that never comes.
    jbyteArray block = host_.newByteArray(std::vector<jbyte>(256 * 1024, 'w'));
    jbyteArray buf = host_.newByteArray(std::vector<jbyte>(100, '.'));

    // Counted once the first rounds have made what the system keeps for the process: from then
    // on a round leaves as many handles as it found. Wine's own may still grow by one or two
    // (its worker threads), which a leak or a second close in a round among 1,900 would not
    // hide.
    size_t handlesBefore = 0;
    Pair pair = newPair();
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        if (round == 100) handlesBefore = openKernelHandles();
        int kind = round % 3;  // write0, read0, read1 on the server end
        const char* stall = stalls[(round / 3) % 3];
        armed = stall;
        std::optional<jnihost::Thrown> thrown;
        jbyteArray read = nullptr;
        jint count = 0;
        std::thread waiter([&] {
            tStalledThread = true;
            JNIEnv* waiterEnv = host_.env();
            if (kind == 0)
                natives_->serverWrite0(waiterEnv, pair.server, block, 0, 256 * 1024, 20000);
            if (kind == 1) read = natives_->serverRead0(waiterEnv, pair.server, 20000);
            if (kind == 2)
                count = natives_->serverRead1(waiterEnv, pair.server, buf, 0, 100, 20000);
            thrown = host_.takePending();
        });
        if (stall != nullptr) {
            WaitForSingleObject(reached.get(), INFINITE);
        } else {
            Sleep(round % 3);
        }
        natives_->serverClose0(env(), pair.server);
        expectNothingPending();
        // The next pair may be given any handle value the system has taken back.
        Pair next = newPair();
        if (stall != nullptr) SetEvent(resume.get());
        waiter.join();

        // A write learns that its pipe is gone; a read sees the end of the stream, or, when the
        // close came before it found its record, the closed object.
        bool invalid = thrown && thrown->className == "java/io/IOException" &&
                       thrown->message == "invalid handle";
        if (kind == 0 || stall == stalls[2]) {
            EXPECT_TRUE(invalid) << (thrown ? thrown->className + " " + thrown->message.value_or("")
                                            : "none");
        } else {
            EXPECT_TRUE(invalid || !thrown)
                << thrown->className << " " << thrown->message.value_or("");
            if (stall == stalls[1]) {
                EXPECT_FALSE(thrown.has_value());
            }
        }
        EXPECT_EQ(read, nullptr);
        if (kind == 2) {
            EXPECT_EQ(count, -1);
        }

        // Nothing of the waiter's reached the next pair, which works.
        EXPECT_EQ(natives_->clientRead0(env(), next.client, 0), nullptr);
        expectThrown("java/io/InterruptedIOException", "timeout");
        natives_->clientClose0(env(), pair.client);
        expectNothingPending();
        pair = next;
        if (HasFailure()) break;
    }
    host_.onEnter(nullptr);
    size_t handlesAfter = openKernelHandles();
    EXPECT_GE(handlesAfter, handlesBefore);
    EXPECT_LE(handlesAfter, handlesBefore + 2);
    closeBoth(pair.server, pair.client);
}

TEST_F(NamedPipeTest, JavaFailuresInsideCallsAreReportedNotIgnored) {
    std::string name = uniquePipeName();
    // The name can't be had: the VM's error stays, nothing is created.
    host_.inject(jnihost::Fault::GetStringUTFChars);
    jobject server = newServer(name);
    EXPECT_EQ(host_.intField(server, "handle"), 0);
    expectThrown("java/lang/OutOfMemoryError");
    jobject probe = host_.newInstance(kClientClass);
    EXPECT_EQ(natives_->clientCreate0(env(), probe, host_.newString(name), kReadWrite), 0);
    expectThrown("java/io/IOException", systemText(ERROR_FILE_NOT_FOUND));

    server = newServer(name);
    // The monitor or the field can't be had: "invalid handle" replaces the VM's error.
    host_.inject(jnihost::Fault::MonitorEnter);
    natives_->connect0(env(), server, 0);
    expectThrown("java/io/IOException", "invalid handle");
    host_.inject(jnihost::Fault::GetFieldID, 1, "handle");
    EXPECT_EQ(natives_->getCurrentInstances0(env(), server), 0);
    expectThrown("java/io/IOException", "invalid handle");
    host_.inject(jnihost::Fault::GetFieldID, 1, "handle");
    natives_->serverClose0(env(), server);
    expectThrown("java/io/IOException", "GetFieldID failed");
    EXPECT_EQ(natives_->getCurrentInstances0(env(), server), 1);

    // The array for a read can't be made: the VM's error, and the bytes wait for the next read.
    jobject client = newClient(name);
    natives_->connect0(env(), server, 5000);
    natives_->clientWrite0(env(), client, bytesOf("kept"), 0, 4, 5000);
    expectNothingPending();
    host_.inject(jnihost::Fault::NewByteArray);
    EXPECT_EQ(natives_->serverRead0(env(), server, 5000), nullptr);
    expectThrown("java/lang/OutOfMemoryError");
    EXPECT_EQ(textOf(natives_->serverRead0(env(), server, 5000)), "kept");

    closeBoth(server, client);
}

TEST_F(NamedPipeTest, ForeignClientProcessTalksToServerNatives) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    PeerProcess peer("client " + name + " ping");
    ASSERT_TRUE(peer.started());
    // Without limit: the connect waits for the peer as long as it takes.
    natives_->connect0(env(), server, -1);
    expectNothingPending();
    jstring user = natives_->getClientUserName0(env(), server);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(host_.utf(user), currentUserName());

    // Whatever has arrived, or the first byte: the rest follows in later reads.
    std::string message;
    while (message.size() < 4) {
        std::optional<std::string> part = textOf(natives_->serverRead0(env(), server, 20000));
        ASSERT_TRUE(part.has_value());
        message += *part;
    }
    EXPECT_EQ(message, "ping");
    natives_->serverWrite0(env(), server, bytesOf("pong"), 0, 4, 5000);
    expectNothingPending();
    std::string output;
    EXPECT_EQ(peer.finish(&output), 0u) << output;
    EXPECT_EQ(output, "reply pong\n");
    EXPECT_EQ(natives_->serverRead0(env(), server, 5000), nullptr);
    expectNothingPending();
    natives_->serverClose0(env(), server);
    expectNothingPending();
}

TEST_F(NamedPipeTest, ClientNativesTalkToForeignServerProcess) {
    std::string name = uniquePipeName();
    PeerProcess peer("serve " + name);
    ASSERT_TRUE(peer.started());
    ASSERT_EQ(peer.readLine(), "ready");
    jobject client = newClient(name);
    expectNothingPending();
    natives_->clientWrite0(env(), client, bytesOf("hello"), 0, 5, 5000);
    expectNothingPending();
    std::string reply;
    while (reply.size() < 10) {
        std::optional<std::string> part = textOf(natives_->clientRead0(env(), client, 20000));
        expectNothingPending();
        ASSERT_TRUE(part.has_value());
        reply += *part;
    }
    EXPECT_EQ(reply, "echo:hello");
    std::string output;
    EXPECT_EQ(peer.finish(&output), 0u) << output;
    EXPECT_EQ(output, "served hello\n");
    // The server has disconnected: end of stream.
    EXPECT_EQ(natives_->clientRead0(env(), client, 5000), nullptr);
    expectNothingPending();
    natives_->clientClose0(env(), client);
    expectNothingPending();
}

}  // namespace
}  // namespace orvela::test

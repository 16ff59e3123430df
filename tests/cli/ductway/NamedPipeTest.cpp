// The named-pipe natives of Ductway under a real system (Wine): both ends through the natives,
// and each end against a plain Win32 peer process.
//
// Not shown here: that a network logon (whose token lacks S-1-2-0) is refused. Wine has no
// network logons; the access list that refuses them is checked by reading it back instead.
#include <aclapi.h>
#include <sddl.h>

#include <thread>

#include "binding/ScopedHandle.h"
#include "binding/ScopedLocalFree.h"
#include "tests/cli/ductway/DuctwayFixture.h"
#include "tests/cli/ductway/PeerProcess.h"

namespace orvela::test {
namespace {

using NamedPipeTest = DuctwayTest;

std::string currentUserName() {
    char name[256] = {};
    DWORD size = sizeof(name);
    GetUserNameA(name, &size);
    return name;
}

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

    // A read that waits returns the first byte that arrives; the rest stays for the next.
    std::optional<std::string> first;
    std::thread reader([&] { first = textOf(natives_->serverRead0(host_.env(), server, 20000)); });
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

TEST_F(NamedPipeTest, WriteRangeOutsideArrayIsRefusedBeforeAnythingIsSent) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    jobject client = newClient(name);
    natives_->connect0(env(), server, 5000);
    expectNothingPending();

    jbyteArray ten = bytesOf("0123456789");
    const jint ranges[][2] = {{-1, 2}, {0, -1}, {8, 3}, {11, 0}, {0x7fffffff, 1}};
    for (const auto& range : ranges) {
        natives_->clientWrite0(env(), client, ten, range[0], range[1], 5000);
        expectThrown("java/lang/ArrayIndexOutOfBoundsException");
    }
    natives_->clientWrite0(env(), client, nullptr, 0, 1, 5000);
    expectThrown("java/lang/NullPointerException");
    EXPECT_EQ(natives_->serverRead0(env(), server, 0), nullptr);
    expectThrown("java/io/InterruptedIOException", "timeout");

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
    for (jint value : {live, live + 1, 0x12345678, -1, 0}) {
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

    // The array for a read can't be made: the VM's error, and the bytes were read.
    jobject client = newClient(name);
    natives_->connect0(env(), server, 5000);
    natives_->clientWrite0(env(), client, bytesOf("lost"), 0, 4, 5000);
    expectNothingPending();
    host_.inject(jnihost::Fault::NewByteArray);
    EXPECT_EQ(natives_->serverRead0(env(), server, 5000), nullptr);
    expectThrown("java/lang/OutOfMemoryError");

    closeBoth(server, client);
}

TEST_F(NamedPipeTest, ForeignClientProcessTalksToServerNatives) {
    std::string name = uniquePipeName();
    jobject server = newServer(name);
    PeerProcess peer("client " + name + " ping");
    ASSERT_TRUE(peer.started());
    natives_->connect0(env(), server, 20000);
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

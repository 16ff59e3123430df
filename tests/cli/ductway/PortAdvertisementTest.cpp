// The port advertisement of Ductway: a named 1024-byte block that another process reads.
#include "binding/ScopedHandle.h"
#include "tests/cli/ductway/DuctwayFixture.h"
#include "tests/cli/ductway/PeerProcess.h"

namespace orvela::test {
namespace {

using PortAdvertisementTest = DuctwayTest;

std::string uniqueMappingName() {
    static int counter = 0;
    return "ductway-port-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

// The first four bytes of the block `name` as this process sees them, or nothing.
std::optional<std::vector<unsigned char>> readBlock(const std::string& name) {
    ScopedHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    if (!mapping) return std::nullopt;
    const auto* view =
        static_cast<const unsigned char*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    std::vector<unsigned char> bytes;
    if (view != nullptr) {
        MEMORY_BASIC_INFORMATION info = {};
        VirtualQuery(view, &info, sizeof(info));
        bytes.assign(view, view + 4);
        if (info.RegionSize < 1024) bytes.clear();
        UnmapViewOfFile(view);
    }
    return bytes;
}

TEST_F(PortAdvertisementTest, AnotherProcessReadsThePortUntilItIsWithdrawn) {
    std::string name = uniqueMappingName();
    jobject advertiser = host_.newInstance(kPortClass);
    natives_->advertisePort0(env(), advertiser, host_.newString(name), 8080);
    expectNothingPending();
    jint mappedFile = host_.intField(advertiser, "mappedFileHandle");
    jint mappedView = host_.intField(advertiser, "mappedView");
    EXPECT_NE(mappedFile, 0);
    EXPECT_NE(mappedView, 0);

    PeerProcess peer("readport " + name);
    ASSERT_TRUE(peer.started());
    std::string output;
    EXPECT_EQ(peer.finish(&output), 0u);
    EXPECT_EQ(output, "90 1f 00 00\n");

    // A second advertisement under the same name writes into the same block.
    jobject second = host_.newInstance(kPortClass);
    natives_->advertisePort0(env(), second, host_.newString(name), -2);
    expectNothingPending();
    EXPECT_EQ(readBlock(name), (std::vector<unsigned char>{0xfe, 0xff, 0xff, 0xff}));

    natives_->unadvertisePort0(env(), second, host_.intField(second, "mappedFileHandle"),
                               host_.intField(second, "mappedView"));
    expectNothingPending();
    EXPECT_TRUE(readBlock(name).has_value());
    natives_->unadvertisePort0(env(), advertiser, mappedFile, mappedView);
    expectNothingPending();
    EXPECT_EQ(readBlock(name), std::nullopt);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // The fields keep the old values; the library never clears them.
    EXPECT_EQ(host_.intField(advertiser, "mappedFileHandle"), mappedFile);
}

TEST_F(PortAdvertisementTest, ValuesNotIssuedOrAlreadyWithdrawnAreRefused) {
    jobject advertiser = host_.newInstance(kPortClass);
    std::string invalidHandle = systemText(ERROR_INVALID_HANDLE);
    natives_->unadvertisePort0(env(), advertiser, 0, 0);
    expectThrown("java/io/IOException", invalidHandle);
    natives_->unadvertisePort0(env(), advertiser, 0x7ffe0000, -4);
    expectThrown("java/io/IOException", invalidHandle);

    std::string name = uniqueMappingName();
    natives_->advertisePort0(env(), advertiser, host_.newString(name), 1);
    jint mappedFile = host_.intField(advertiser, "mappedFileHandle");
    jint mappedView = host_.intField(advertiser, "mappedView");
    // Crossed over: neither value is of the kind asked for, so nothing is released.
    natives_->unadvertisePort0(env(), advertiser, mappedView, mappedFile);
    expectThrown("java/io/IOException", invalidHandle);
    EXPECT_EQ(readBlock(name), (std::vector<unsigned char>{1, 0, 0, 0}));

    natives_->unadvertisePort0(env(), advertiser, mappedFile, mappedView);
    expectNothingPending();
    // A failed unmap is reported when the close succeeds.
    natives_->advertisePort0(env(), advertiser, host_.newString(name), 2);
    natives_->unadvertisePort0(env(), advertiser, host_.intField(advertiser, "mappedFileHandle"),
                               mappedView);
    expectThrown("java/io/IOException", systemText(ERROR_INVALID_ADDRESS));
    natives_->unadvertisePort0(env(), advertiser, mappedFile, mappedView);
    expectThrown("java/io/IOException", invalidHandle);
}

TEST_F(PortAdvertisementTest, MissingFieldsOrRefusedNamesCreateNothing) {
    std::string name = uniqueMappingName();
    jobject advertiser = host_.newInstance(kPortClass);
    host_.inject(jnihost::Fault::GetFieldID, 1, "mappedView");
    natives_->advertisePort0(env(), advertiser, host_.newString(name), 80);
    expectThrown("java/lang/NoSuchFieldError");
    host_.inject(jnihost::Fault::GetStringUTFChars);
    natives_->advertisePort0(env(), advertiser, host_.newString(name), 80);
    expectThrown("java/lang/OutOfMemoryError");
    natives_->advertisePort0(env(), advertiser, nullptr, 80);
    expectThrown("java/lang/NullPointerException");
    // An empty name would give an unnamed block that no other process can open.
    natives_->advertisePort0(env(), advertiser, host_.newString(""), 80);
    expectThrown("java/io/IOException", systemText(ERROR_INVALID_NAME));
    // A name in a namespace that doesn't exist: the system refuses it, with its own text.
    natives_->advertisePort0(env(), advertiser, host_.newString("no-such-namespace\\" + name), 80);
    std::optional<jnihost::Thrown> refused = host_.takePending();
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->className, "java/io/IOException");
    EXPECT_FALSE(refused->message.value_or("").empty());
    EXPECT_EQ(readBlock(name), std::nullopt);
    EXPECT_EQ(host_.intField(advertiser, "mappedFileHandle"), 0);
}

}  // namespace
}  // namespace orvela::test

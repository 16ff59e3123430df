// Every system text the library obtains for an exception message is released once.
#include "tests/cli/ductway/DuctwayFixture.h"
#include "tests/cli/ductway/SystemTextLedger.h"

namespace orvela::test {
namespace {

using SystemTextReleaseTest = DuctwayTest;

TEST_F(SystemTextReleaseTest, EachTextIsReleasedExactlyOnceAfterTheThrow) {
    SystemTextLedger ledger(GetModuleHandleA("Ductway.dll"));
    ASSERT_TRUE(ledger.attached());

    // Failures with system texts along every path that has one.
    jobject server = host_.newInstance(kServerClass);
    natives_->serverCreate0(env(), server, host_.newString("bad name"), kDuplex, kByteMode, 1, 4096,
                            4096, 0);
    expectThrown("java/lang/IllegalArgumentException");
    newClient(uniquePipeName());
    expectThrown("java/io/IOException", systemText(ERROR_FILE_NOT_FOUND));
    jobject advertiser = host_.newInstance(kPortClass);
    natives_->unadvertisePort0(env(), advertiser, 1, 2);  // two failures, the second replaces
    expectThrown("java/io/IOException", systemText(ERROR_INVALID_HANDLE));

    std::string name = uniquePipeName();
    server = newServer(name);
    natives_->disconnect0(env(), server);  // no client: the system refuses
    expectThrown("java/io/IOException");
    EXPECT_EQ(natives_->serverRead0(env(), server, 0), nullptr);
    expectThrown("java/io/IOException");
    natives_->serverClose0(env(), server);
    expectNothingPending();

    EXPECT_GE(ledger.allocated(), 5u);
    EXPECT_EQ(ledger.released(), ledger.allocated());
    EXPECT_EQ(ledger.outstanding(), 0u);
    EXPECT_EQ(ledger.releasedTwice(), 0u);
}

}  // namespace
}  // namespace orvela::test

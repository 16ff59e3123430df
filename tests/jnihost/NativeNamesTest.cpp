#include <gtest/gtest.h>

#include "tests/jnihost/JniHost.h"

namespace orvela::jnihost {
namespace {

using Names = std::vector<std::string>;

TEST(NativeNamesTest, PlainNameOnEveryPlatformAndStdcallFormFirstOnWin32) {
    const Names plain{"Java_com_orvela_core_orb_Orb_dump0"};
    EXPECT_EQ(nativeSymbolNames(Platform::Posix, "com/orvela/core/orb/Orb", "dump0", "()V", false),
              plain);
    EXPECT_EQ(nativeSymbolNames(Platform::Win64, "com/orvela/core/orb/Orb", "dump0", "()V", false),
              plain);
    EXPECT_EQ(nativeSymbolNames(Platform::Win32, "com/orvela/core/orb/Orb", "dump0", "()V", false),
              (Names{"_Java_com_orvela_core_orb_Orb_dump0@8", plain[0]}));
}

TEST(NativeNamesTest, StdcallBytesCountLongsAndDoublesTwice) {
    EXPECT_EQ(stdcallArgBytes("()V"), 8);
    EXPECT_EQ(stdcallArgBytes("(Ljava/lang/String;I)I"), 16);
    EXPECT_EQ(stdcallArgBytes("(JI[BD)V"), 8 + 8 + 4 + 4 + 8);
    EXPECT_EQ(nativeSymbolNames(Platform::Win32, "com/orvela/core/cli/UnixDomSocket", "read0",
                                "(I[BIIJ)I", false)[0],
              "_Java_com_orvela_core_cli_UnixDomSocket_read0@32");
}

TEST(NativeNamesTest, OverloadSuffixAndEscapes) {
    EXPECT_EQ(nativeSymbolNames(Platform::Posix, "a/B", "echo", "(Ljava/lang/String;I)V", true)[0],
              "Java_a_B_echo__Ljava_lang_String_2I");
    EXPECT_EQ(nativeSymbolNames(Platform::Win32, "a/B", "f", "([B)V", true)[0],
              "_Java_a_B_f___3B@12");
    EXPECT_EQ(mangleForNative("my_pkg/Cl\xc3\xa9"), "my_1pkg_Cl_000e9");
}

}  // namespace
}  // namespace orvela::jnihost

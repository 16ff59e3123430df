// Throughput (64 KiB writes) and 100-byte round trips through the Ductway natives, side by side
// with a bare Win32 overlapped loop doing the same on the same machine.
//
//   named_pipe_bench [results.tsv]
//
// Prints a table and, when a path is given, writes one line per figure:
// metric <TAB> value <TAB> anchor <TAB> ratio <TAB> unit, where the anchor is the bare loop's
// figure and the ratio says how many times better the natives do (1.00: as well; below 1:
// worse). The bare loop runs three ways: plainly (each read asks for the whole block); with
// the natives' read rule done the direct way (a peek, then what is waiting or the first byte;
// the natives give the same results with one read, keeping what a waiting read brings beyond
// its first byte for the next); and with that rule and the Java arrays a caller of the natives
// gets and gives through the VM (here the JNI test host).
#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/ductway/DuctwayNatives.h"
#include "tests/jnihost/JniHost.h"

namespace {

using orvela::test::DuctwayNatives;
using orvela::test::kClientClass;
using orvela::test::kServerClass;

constexpr DWORD kChunk = 64 * 1024;
constexpr int kChunks = 1024;            // 64 MiB per throughput run
constexpr DWORD kReadRoom = 4 * kChunk;  // more than a full pipe and a pending write hold
constexpr DWORD kSmall = 100;
constexpr int kRoundTrips = 2000;
constexpr int kRuns = 5;
constexpr jint kWait = 30000;

double now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string pipeName(const char* what) {
    static int counter = 0;
    return "\\\\.\\pipe\\ductway-bench-" + std::to_string(GetCurrentProcessId()) + "-" + what +
           std::to_string(++counter);
}

std::string directoryOfExecutable() {
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// --- The bare loop: overlapped ReadFile/WriteFile and an event, nothing else. -----------------

// How much of the natives' work the bare loop does besides the I/O itself.
enum class BareMode {
    Plain,               // each read asks for the whole block
    SameReads,           // the natives' read rule: a peek, then what is waiting or the first byte
    SameReadsAndArrays,  // and the Java arrays a caller of the natives gets and gives
};

struct BareEnd {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BareMode mode = BareMode::Plain;
    orvela::jnihost::Host* host = nullptr;  // for the arrays

    ~BareEnd() {
        CloseHandle(pipe);
        CloseHandle(event);
    }
    DWORD io(bool write, void* buf, DWORD len) {
        // ReadFile and WriteFile reset the event themselves.
        OVERLAPPED ov = {};
        ov.hEvent = event;
        BOOL ok = write ? WriteFile(pipe, buf, len, nullptr, &ov)
                        : ReadFile(pipe, buf, len, nullptr, &ov);
        if (!ok && GetLastError() != ERROR_IO_PENDING) return 0;
        DWORD n = 0;
        WaitForSingleObject(event, INFINITE);
        return GetOverlappedResult(pipe, &ov, &n, FALSE) ? n : 0;
    }
    DWORD read(void* buf, DWORD len) {
        if (mode == BareMode::Plain) return io(false, buf, len);
        DWORD avail = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr)) return 0;
        DWORD n = io(false, buf, avail == 0 ? 1 : std::min(avail, len));
        if (mode == BareMode::SameReadsAndArrays) {
            JNIEnv* env = host->env();
            jbyteArray arr = env->NewByteArray(static_cast<jsize>(n));
            env->SetByteArrayRegion(arr, 0, static_cast<jsize>(n), static_cast<jbyte*>(buf));
            env->DeleteLocalRef(arr);
        }
        return n;
    }
    DWORD write(jbyteArray from, void* buf, DWORD len) {
        if (mode == BareMode::SameReadsAndArrays) {
            host->env()->GetByteArrayRegion(from, 0, static_cast<jsize>(len),
                                            static_cast<jbyte*>(buf));
        }
        return io(true, buf, len);
    }
};

// A connected pair of bare ends, with a host of its own when the mode needs one.
struct BarePair {
    std::unique_ptr<orvela::jnihost::Host> host;
    BareEnd server, client;

    explicit BarePair(BareMode mode) {
        if (mode == BareMode::SameReadsAndArrays) host = std::make_unique<orvela::jnihost::Host>();
        for (BareEnd* end : {&server, &client}) {
            end->mode = mode;
            end->host = host.get();
        }
        std::string name = pipeName("bare");
        server.pipe = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE, 1, kChunk, kChunk, 0, nullptr);
        client.pipe = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        OVERLAPPED ov = {};
        ov.hEvent = server.event;
        ConnectNamedPipe(server.pipe, &ov);  // attached already: ERROR_PIPE_CONNECTED
    }
    jbyteArray array(DWORD size, char fill) {
        return host ? host->newByteArray(std::vector<jbyte>(size, fill)) : nullptr;
    }
};

double bareThroughput(BareMode mode) {
    BarePair pair(mode);
    std::vector<char> out(kChunk, 'x');
    jbyteArray javaOut = pair.array(kChunk, 'x');
    double start = now();
    std::thread reader([&] {
        // With the read rule a read takes everything waiting, as the natives' read does: with
        // a write pending beside a full pipe that is more than one block.
        DWORD room = mode == BareMode::Plain ? kChunk : kReadRoom;
        std::vector<char> in(room);
        unsigned long long total = 0;
        while (total < 1ull * kChunk * kChunks) {
            DWORD n = pair.client.read(in.data(), room);
            if (n == 0) break;
            total += n;
        }
    });
    for (int i = 0; i < kChunks; ++i) pair.server.write(javaOut, out.data(), kChunk);
    reader.join();
    return kChunks * (kChunk / 1048576.0) / (now() - start);
}

double bareRoundTrip(BareMode mode) {
    BarePair pair(mode);
    std::vector<char> msg(kSmall, 'r'), buf(kSmall);
    jbyteArray javaMsg = pair.array(kSmall, 'r');
    double start = now();
    std::thread echo([&] {
        std::vector<char> in(kSmall);
        for (int i = 0; i < kRoundTrips; ++i) {
            DWORD got = 0;
            while (got < kSmall) got += pair.server.read(in.data() + got, kSmall - got);
            pair.server.write(javaMsg, in.data(), kSmall);
        }
    });
    for (int i = 0; i < kRoundTrips; ++i) {
        pair.client.write(javaMsg, msg.data(), kSmall);
        DWORD got = 0;
        while (got < kSmall) got += pair.client.read(buf.data() + got, kSmall - got);
    }
    echo.join();
    return (now() - start) / kRoundTrips * 1e6;
}

// --- The same through the natives, with the JNI test host as the VM. -------------------------

struct NativePair {
    orvela::jnihost::Host& host;
    const DuctwayNatives& n;
    jobject server;
    jobject client;

    NativePair(orvela::jnihost::Host& h, const DuctwayNatives& natives) : host(h), n(natives) {
        std::string name = pipeName("natives");
        server = host.newInstance(kServerClass);
        host.setIntField(server, "handle",
                         n.serverCreate0(host.env(), server, host.newString(name),
                                         PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, kChunk, kChunk, 0));
        client = host.newInstance(kClientClass);
        host.setIntField(client, "handle",
                         n.clientCreate0(host.env(), client, host.newString(name),
                                         static_cast<jint>(GENERIC_READ | GENERIC_WRITE)));
        n.connect0(host.env(), server, kWait);
    }
    ~NativePair() {
        n.clientClose0(host.env(), client);
        n.serverClose0(host.env(), server);
    }
    // Reads until `want` bytes came; each array is dropped as a Java caller would drop it.
    static jsize readAll(JNIEnv* env, jbyteArray(JNICALL* read0)(JNIEnv*, jobject, jint),
                         jobject end, jsize want) {
        jsize got = 0;
        while (got < want) {
            jbyteArray arr = read0(env, end, kWait);
            if (arr == nullptr) break;
            got += env->GetArrayLength(arr);
            env->DeleteLocalRef(arr);
        }
        return got;
    }
};

double nativeThroughput(orvela::jnihost::Host& host, const DuctwayNatives& n);
double nativeRoundTrip(orvela::jnihost::Host& host, const DuctwayNatives& n);

// Runs `measure` in a host of its own, so that nothing one run left in the host (objects,
// references) weighs on the next.
double inFreshHost(double (*measure)(orvela::jnihost::Host&, const DuctwayNatives&)) {
    orvela::jnihost::Host host;
    host.defineClass(kServerClass).intField("handle");
    // A timed-out write reports in it what the peer took, as in the real class.
    host.defineClass("java/io/InterruptedIOException").intField("bytesTransferred");
    host.defineClass(kClientClass).intField("handle");
    orvela::jnihost::Library lib(host, directoryOfExecutable() + "Ductway.dll");
    DuctwayNatives natives(lib);
    return measure(host, natives);
}

double nativeThroughput(orvela::jnihost::Host& host, const DuctwayNatives& n) {
    NativePair pair(host, n);
    jbyteArray out = host.newByteArray(std::vector<jbyte>(kChunk, 'x'));
    double start = now();
    std::thread reader(
        [&] { NativePair::readAll(host.env(), n.clientRead0, pair.client, kChunk * kChunks); });
    for (int i = 0; i < kChunks; ++i)
        n.serverWrite0(host.env(), pair.server, out, 0, kChunk, kWait);
    reader.join();
    return kChunks * (kChunk / 1048576.0) / (now() - start);
}

double nativeRoundTrip(orvela::jnihost::Host& host, const DuctwayNatives& n) {
    NativePair pair(host, n);
    jbyteArray msg = host.newByteArray(std::vector<jbyte>(kSmall, 'r'));
    double start = now();
    std::thread echo([&] {
        JNIEnv* env = host.env();
        for (int i = 0; i < kRoundTrips; ++i) {
            NativePair::readAll(env, n.serverRead0, pair.server, kSmall);
            n.serverWrite0(env, pair.server, msg, 0, kSmall, kWait);
        }
    });
    JNIEnv* env = host.env();
    for (int i = 0; i < kRoundTrips; ++i) {
        n.clientWrite0(env, pair.client, msg, 0, kSmall, kWait);
        NativePair::readAll(env, n.clientRead0, pair.client, kSmall);
    }
    echo.join();
    return (now() - start) / kRoundTrips * 1e6;
}

// Best of kRuns for each contender, the contenders taking turns so that all meet the same
// machine load.
std::vector<double> bestOf(const std::vector<std::function<double()>>& contenders,
                           bool higherIsBetter) {
    std::vector<double> best(contenders.size());
    for (int run = 0; run < kRuns; ++run) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            double v = contenders[i]();
            if (run == 0 || (higherIsBetter ? v > best[i] : v < best[i])) best[i] = v;
        }
    }
    return best;
}

struct Figure {
    const char* name;
    const char* label;
    double value;
    double anchor;
    double ratio;  // times better than the anchor: above 1, better
    const char* unit;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<double> mib = bestOf({[] { return inFreshHost(nativeThroughput); },
                                      [] { return bareThroughput(BareMode::Plain); },
                                      [] { return bareThroughput(BareMode::SameReads); },
                                      [] { return bareThroughput(BareMode::SameReadsAndArrays); }},
                                     true);
    std::vector<double> us = bestOf(
        {[] { return inFreshHost(nativeRoundTrip); }, [] { return bareRoundTrip(BareMode::Plain); },
         [] { return bareRoundTrip(BareMode::SameReads); },
         [] { return bareRoundTrip(BareMode::SameReadsAndArrays); }},
        false);
    const Figure figures[] = {
        {"throughput_64KiB", "throughput 64 KiB (MiB/s)", mib[0], mib[1], mib[0] / mib[1], "MiB/s"},
        {"throughput_64KiB_vs_same_reads", "  vs bare, same read rule", mib[0], mib[2],
         mib[0] / mib[2], "MiB/s"},
        {"throughput_64KiB_vs_same_reads_and_arrays", "  vs bare, + Java arrays", mib[0], mib[3],
         mib[0] / mib[3], "MiB/s"},
        {"round_trip_100B", "round trip 100 B (us)", us[0], us[1], us[1] / us[0], "us"},
        {"round_trip_100B_vs_same_reads", "  vs bare, same read rule", us[0], us[2], us[2] / us[0],
         "us"},
        {"round_trip_100B_vs_same_reads_and_arrays", "  vs bare, + Java arrays", us[0], us[3],
         us[3] / us[0], "us"},
    };

    std::printf("%-28s %12s %12s %8s\n", "figure", "natives", "bare loop", "ratio");
    for (const Figure& f : figures) {
        std::printf("%-28s %12.1f %12.1f %8.2f\n", f.label, f.value, f.anchor, f.ratio);
    }
    if (argc > 1) {
        FILE* tsv = std::fopen(argv[1], "w");
        if (tsv == nullptr) {
            std::perror(argv[1]);
            return 1;
        }
        std::fprintf(tsv, "metric\tvalue\tanchor\tratio\tunit\n");
        for (const Figure& f : figures) {
            std::fprintf(tsv, "named-pipe.host_%s\t%.1f\t%.1f\t%.3f\t%s\n", f.name, f.value,
                         f.anchor, f.ratio, f.unit);
        }
        std::fclose(tsv);
    }
    return 0;
}

#include "core/icmp/ProbeFilter.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/icmp/IcmpLayout.h"

// Classic BPF reads packet fields most significant byte first into host values, so every
// constant below is a plain host value, whatever the host's byte order. A load past the end of
// the datagram ends the program with 0, which drops the datagram: a datagram too short for a
// field that is looked at never passes.

namespace orvela::icmp {
namespace {

constexpr uint32_t kPassWhole = 0xFFFFFFFFu;
constexpr uint32_t kDropAll = 0;
constexpr uint32_t kIpSourceAt = 12;
// From the start of the ICMP message, which lies at the outer header's length (X).
constexpr uint32_t kQuotedAt = kIcmpHeaderLength;
// At most this many datagrams, queued before the filter was on, are thrown away.
constexpr int kMostUnfiltered = 1024;

// Jump targets: the next instruction, the two returns that end every program, or a label.
enum Target : int { kNext, kPass, kDrop, kQuoted };

// Builds a program whose jumps name their targets; finish() appends the two returns (pass the
// whole datagram, drop it) and turns the targets into the forward offsets BPF counts.
class Assembler {
  public:
    void op(uint16_t code, uint32_t k = 0) { add(code, k, kNext, kNext); }
    void jump(uint16_t test, uint32_t k, int ifTrue, int ifFalse) {
        add(BPF_JMP | test | BPF_K, k, ifTrue, ifFalse);
    }
    // Where the jumps to kQuoted land: the part that reads an error's quoted datagram.
    void markQuoted() { quotedAt_ = count_; }

    // X = the outer header's length; a header shorter than 20 bytes passes nothing.
    void outerHeader() {
        op(BPF_LDX | BPF_B | BPF_MSH, 0);
        op(BPF_MISC | BPF_TXA);
        jump(BPF_JGE, kIpMinHeaderLength, kNext, kDrop);
    }

    // With X at the outer header's length: X = the outer and the quoted header's lengths, which
    // puts the quoted datagram's payload at X + 8.
    void pastQuotedHeader() {
        op(BPF_LD | BPF_B | BPF_IND, kQuotedAt);
        op(BPF_ALU | BPF_AND | BPF_K, 0x0F);
        op(BPF_ALU | BPF_LSH | BPF_K, 2);
        jump(BPF_JGE, kIpMinHeaderLength, kNext, kDrop);
        op(BPF_ALU | BPF_ADD | BPF_X);
        op(BPF_MISC | BPF_TAX);
    }

    FilterProgram finish() const {
        FilterProgram program{};
        if (overflow_) {  // can't happen with the programs below; passing all is always safe
            program.code[0] = {BPF_RET | BPF_K, 0, 0, kPassWhole};
            program.length = 1;
            return program;
        }
        const int passAt = count_;
        const int dropAt = count_ + 1;
        for (int i = 0; i < count_; ++i) {
            program.code[i] = {pending_[i].code, offset(i, pending_[i].ifTrue, passAt, dropAt),
                               offset(i, pending_[i].ifFalse, passAt, dropAt), pending_[i].k};
        }
        program.code[passAt] = {BPF_RET | BPF_K, 0, 0, kPassWhole};
        program.code[dropAt] = {BPF_RET | BPF_K, 0, 0, kDropAll};
        program.length = static_cast<unsigned short>(count_ + 2);
        return program;
    }

  private:
    struct Pending {
        uint16_t code;
        uint32_t k;
        int ifTrue;
        int ifFalse;
    };

    void add(uint16_t code, uint32_t k, int ifTrue, int ifFalse) {
        if (count_ == kMostPending) {
            overflow_ = true;
            return;
        }
        pending_[count_++] = {code, k, ifTrue, ifFalse};
    }

    uint8_t offset(int at, int target, int passAt, int dropAt) const {
        int to = at + 1;
        if (target == kPass) to = passAt;
        if (target == kDrop) to = dropAt;
        if (target == kQuoted) to = quotedAt_;
        return static_cast<uint8_t>(to - (at + 1));
    }

    // The two returns take the last two places.
    static constexpr int kMostPending = FilterProgram::kCapacity - 2;
    Pending pending_[kMostPending]{};
    int count_ = 0;
    bool overflow_ = false;
    int quotedAt_ = 0;
};

}  // namespace

FilterProgram latencyProbeFilter(uint16_t identifier, uint32_t destination) noexcept {
    Assembler a;
    a.outerHeader();
    a.op(BPF_LD | BPF_B | BPF_IND, kIcmpTypeAt);
    a.jump(BPF_JEQ, ICMP_ECHO, kDrop, kNext);  // a request: ours, when this host is probed
    a.jump(BPF_JEQ, ICMP_DEST_UNREACH, kQuoted, kNext);
    a.jump(BPF_JEQ, ICMP_TIME_EXCEEDED, kQuoted, kNext);
    // Any other message carries the identifier in its own header, from the probed host.
    a.op(BPF_LD | BPF_H | BPF_IND, kIcmpIdentifierAt);
    a.jump(BPF_JEQ, identifier, kNext, kDrop);
    a.op(BPF_LD | BPF_W | BPF_ABS, kIpSourceAt);
    a.jump(BPF_JEQ, destination, kPass, kDrop);
    // An error quotes an ICMP datagram to the probed host, carrying the identifier.
    a.markQuoted();
    a.op(BPF_LD | BPF_B | BPF_IND, kQuotedAt + kIpProtocolAt);
    a.jump(BPF_JEQ, IPPROTO_ICMP, kNext, kDrop);
    a.op(BPF_LD | BPF_W | BPF_IND, kQuotedAt + kIpDestinationAt);
    a.jump(BPF_JEQ, destination, kNext, kDrop);
    a.pastQuotedHeader();
    a.op(BPF_LD | BPF_H | BPF_IND, kQuotedAt + kIcmpIdentifierAt);
    a.jump(BPF_JEQ, identifier, kPass, kDrop);
    return a.finish();
}

FilterProgram latencyProbeFilter6(uint16_t identifier, const in6_addr& destination) noexcept {
    constexpr uint32_t kQuotedIp6At = kIcmpHeaderLength;
    constexpr uint32_t kQuotedEchoAt = kQuotedIp6At + kIp6HeaderLength;
    Assembler a;
    a.op(BPF_LD | BPF_B | BPF_ABS, kIcmpTypeAt);
    a.jump(BPF_JEQ, ICMP6_DST_UNREACH, kQuoted, kNext);
    a.jump(BPF_JEQ, ICMP6_PACKET_TOO_BIG, kQuoted, kNext);
    a.jump(BPF_JEQ, ICMP6_TIME_EXCEEDED, kQuoted, kNext);
    a.jump(BPF_JEQ, ICMP6_ECHO_REPLY, kNext, kDrop);
    a.op(BPF_LD | BPF_H | BPF_ABS, kIcmpIdentifierAt);
    a.jump(BPF_JEQ, identifier, kPass, kDrop);
    // An error quotes an IPv6 header without extensions, to the probed host, then the request.
    a.markQuoted();
    a.op(BPF_LD | BPF_B | BPF_ABS, kQuotedIp6At + kIp6NextHeaderAt);
    a.jump(BPF_JEQ, IPPROTO_ICMPV6, kNext, kDrop);
    for (uint32_t word = 0; word < 4; ++word) {
        const uint8_t* b = destination.s6_addr + 4 * word;
        const uint32_t value = static_cast<uint32_t>(b[0]) << 24 |
                               static_cast<uint32_t>(b[1]) << 16 |
                               static_cast<uint32_t>(b[2]) << 8 | b[3];
        a.op(BPF_LD | BPF_W | BPF_ABS, kQuotedIp6At + kIp6DestinationAt + 4 * word);
        a.jump(BPF_JEQ, value, kNext, kDrop);
    }
    a.op(BPF_LD | BPF_B | BPF_ABS, kQuotedEchoAt + kIcmpTypeAt);
    a.jump(BPF_JEQ, ICMP6_ECHO_REQUEST, kNext, kDrop);
    a.op(BPF_LD | BPF_H | BPF_ABS, kQuotedEchoAt + kIcmpIdentifierAt);
    a.jump(BPF_JEQ, identifier, kPass, kDrop);
    return a.finish();
}

FilterProgram routeTraceFilter(uint16_t sourcePort, uint16_t firstDestinationPort,
                               uint32_t destinationPorts) noexcept {
    Assembler a;
    a.outerHeader();
    a.op(BPF_LD | BPF_B | BPF_IND, kIcmpTypeAt);
    a.jump(BPF_JEQ, ICMP_DEST_UNREACH, kQuoted, kNext);
    a.jump(BPF_JEQ, ICMP_TIME_EXCEEDED, kNext, kDrop);
    a.op(BPF_LD | BPF_B | BPF_IND, kIcmpCodeAt);
    a.jump(BPF_JEQ, ICMP_EXC_TTL, kNext, kDrop);
    // The quoted datagram is a UDP probe of this trace.
    a.markQuoted();
    a.op(BPF_LD | BPF_B | BPF_IND, kQuotedAt + kIpProtocolAt);
    a.jump(BPF_JEQ, IPPROTO_UDP, kNext, kDrop);
    a.pastQuotedHeader();
    a.op(BPF_LD | BPF_H | BPF_IND, kQuotedAt + kUdpSourcePortAt);
    if (destinationPorts > 0xFFFF) {
        a.jump(BPF_JEQ, sourcePort, kPass, kDrop);
        return a.finish();
    }
    a.jump(BPF_JEQ, sourcePort, kNext, kDrop);
    // How far past the first port, modulo 65536, within the range.
    a.op(BPF_LD | BPF_H | BPF_IND, kQuotedAt + kUdpDestinationPortAt);
    a.op(BPF_ALU | BPF_SUB | BPF_K, firstDestinationPort);
    a.op(BPF_ALU | BPF_AND | BPF_K, 0xFFFF);
    a.jump(BPF_JGE, destinationPorts, kDrop, kPass);
    return a.finish();
}

FilterProgram pingServiceFilter(uint16_t identifier) noexcept {
    Assembler a;
    a.outerHeader();
    a.op(BPF_LD | BPF_B | BPF_IND, kIcmpTypeAt);
    a.jump(BPF_JEQ, ICMP_ECHOREPLY, kNext, kDrop);
    a.op(BPF_LD | BPF_H | BPF_IND, kIcmpIdentifierAt);
    a.jump(BPF_JEQ, identifier, kPass, kDrop);
    return a.finish();
}

FilterProgram pingServiceFilter6(uint16_t identifier) noexcept {
    Assembler a;
    a.op(BPF_LD | BPF_B | BPF_ABS, kIcmpTypeAt);
    a.jump(BPF_JEQ, ICMP6_ECHO_REPLY, kNext, kDrop);
    a.op(BPF_LD | BPF_H | BPF_ABS, kIcmpIdentifierAt);
    a.jump(BPF_JEQ, identifier, kPass, kDrop);
    return a.finish();
}

bool attachFilter(int fd, const FilterProgram& program) noexcept {
    sock_fprog attached{program.length, const_cast<sock_filter*>(program.code)};
    if (::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &attached, sizeof attached) != 0) {
        return false;
    }
    // What came in before the filter was on would each wake the reader for nothing.
    dropQueued(fd);
    return true;
}

void dropQueued(int fd) noexcept {
    unsigned char scratch[1];
    for (int i = 0; i < kMostUnfiltered; ++i) {
        if (::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT) < 0) break;
    }
}

}  // namespace orvela::icmp

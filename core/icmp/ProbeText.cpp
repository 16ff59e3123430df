#include "core/icmp/ProbeText.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/icmp/IcmpLayout.h"

namespace {

// The names of pr_type, and the text buffers of inetname (one thread at a time).
const char* const kIcmpTypeNames[] = {
    "Echo Reply",    "ICMP 1",    "ICMP 2",          "Dest Unreachable",
    "Source Quench", "Redirect",  "ICMP 6",          "ICMP 7",
    "Echo",          "ICMP 9",    "ICMP 10",         "Time Exceeded",
    "Param Problem", "Timestamp", "Timestamp Reply", "Info Request",
    "Info Reply",
};

char line[50];
char domain[257];
bool domainKnown = false;

// This host's domain (what follows the first dot of its name), or "" when it has none.
void learnDomain() {
    if (gethostname(domain, 256) == 0) {
        domain[256] = '\0';
        char* dot = strchr(domain, '.');
        if (dot != nullptr) {
            memmove(domain, dot + 1, strlen(dot + 1) + 1);
        } else {
            domain[0] = '\0';
        }
    } else {
        domain[0] = '\0';
    }
}

// Puts `name` into `line` without the local domain, cut to the line; false for no name. The
// name is cut in place, as the resolver's entry was.
bool nameInLine(char* name) {
    if (!domainKnown) {
        domainKnown = true;
        learnDomain();
    }
    if (name == nullptr) return false;
    char* dot = strchr(name, '.');
    if (dot != nullptr && strcmp(dot + 1, domain) == 0) *dot = '\0';
    snprintf(line, sizeof line, "%s", name);
    return true;
}

}  // namespace

namespace orvela::icmp {

const char* dotted(const sockaddr_in* address) {
    in_addr none{};
    return inet_ntoa(address != nullptr ? address->sin_addr : none);
}

const char* numericText(const SocketAddress& address) {
    static char text[INET6_ADDRSTRLEN];
    if (address.any.sa_family == AF_INET6) {
        return inet_ntop(AF_INET6, &address.v6.sin6_addr, text, sizeof text);
    }
    return dotted(&address.v4);
}

char* inetname6(const in6_addr& address) {
    char host[NI_MAXHOST];
    sockaddr_in6 at{};
    at.sin6_family = AF_INET6;
    at.sin6_addr = address;
    const bool named = !IN6_IS_ADDR_UNSPECIFIED(&address) &&
                       getnameinfo(reinterpret_cast<const sockaddr*>(&at), sizeof at, host,
                                   sizeof host, nullptr, 0, NI_NAMEREQD) == 0;
    if (!nameInLine(named ? host : nullptr)) inet_ntop(AF_INET6, &address, line, sizeof line);
    return line;
}

void print6(const sockaddr_in6* from, int cc, const in6_addr* to) {
    const in6_addr sender = from != nullptr ? from->sin6_addr : in6_addr{};
    char text[INET6_ADDRSTRLEN];
    printf(" %s (%s)", inetname6(sender), inet_ntop(AF_INET6, &sender, text, sizeof text));
    const in6_addr reached = to != nullptr ? *to : in6_addr{};
    printf(" %d bytes to %s", cc, inet_ntop(AF_INET6, &reached, text, sizeof text));
}

void printError(const char* what, int err) {
    fprintf(stderr, "%s: %s\n", what, strerror(err));
}

void dumpWords(const unsigned char* data, int available, int firstLabel, int labelEnd,
               int labelToOffset) {
    for (int label = firstLabel; label < labelEnd; label += 4) {
        const int offset = label + labelToOffset;
        if (offset >= available) break;
        uint32_t word = 0;
        memcpy(&word, data + offset, available - offset < 4 ? available - offset : 4);
        printf("%2d: x%8.8lx\n", label, static_cast<unsigned long>(word));
    }
}

}  // namespace orvela::icmp

extern "C" {

const char* pr_type(unsigned char t) {
    if (t < sizeof kIcmpTypeNames / sizeof kIcmpTypeNames[0]) return kIcmpTypeNames[t];
    return "OUT-OF-RANGE";
}

char* inetname(struct in_addr in) {
    char* name = nullptr;
    if (in.s_addr != INADDR_ANY) {
        hostent* entry = gethostbyaddr(&in, sizeof in, AF_INET);
        if (entry != nullptr) name = entry->h_name;
    }
    if (!nameInLine(name)) {
        const unsigned long address = ntohl(in.s_addr);
        snprintf(line, sizeof line, "%lu.%lu.%lu.%lu", (address >> 24) & 0xff,
                 (address >> 16) & 0xff, (address >> 8) & 0xff, address & 0xff);
    }
    return line;
}

void print(const unsigned char* buf, int cc, const struct sockaddr_in* from) {
    using namespace orvela::icmp;
    const int hlen = ipHeaderLength(buf, cc);
    in_addr sender{};
    if (from != nullptr) sender = from->sin_addr;
    printf(" %s (%s)", inetname(sender), inet_ntoa(sender));
    // The address this host was reached at, when the header holding it was received.
    in_addr to{};
    if (buf != nullptr && cc >= kIpMinHeaderLength) {
        memcpy(&to.s_addr, buf + kIpDestinationAt, sizeof to.s_addr);
    }
    printf(" %d bytes to %s", cc - hlen, inet_ntoa(to));
}

}  // extern "C"

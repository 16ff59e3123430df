#include "core/icmp/ProbeSettings.h"

extern "C" {
int nprobes = 3;
unsigned short port = 33434;
int verbose = 0;
}

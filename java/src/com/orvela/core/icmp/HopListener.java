package com.orvela.core.icmp;

/** Receives the reports of a route trace, one per hop. */
public interface HopListener {
    /**
     * @param id the trace identifier
     * @param seq the number of the hop's latest probe; 0 in a set-up failure report
     * @param address the address that answered, 0 when none was accepted
     * @param rc the status code
     * @param latency the round-trip time in milliseconds
     * @param datalen the probe length used
     * @param dest the destination as given
     * @param done 1 on the last report of the trace, else 0
     */
    void handleHop(int id, int seq, int address, int rc, double latency, int datalen, int dest,
            int done);
}

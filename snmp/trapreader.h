#pragma once

struct netsnmp_transport_s;

// Reads a trap listener's socket in batches (recvmmsg) and looks at each datagram's source before the library
// parses anything: a sender that the notification gate does not admit (a stranger over its rate) is dropped
// unparsed, so that the queue drains faster than a flood fills it and the cards' notifications are not lost in
// the kernel. What is admitted goes to the library as if it had read it itself: the reader takes the place of
// the transport's receive function and hands over the same sender and destination record, so the library's
// own answer path (inform acknowledgements) is unchanged. All of it with the library lock held.
class TrapReader
{
public:
    // After the transport is opened and before its session is added; false (and the library's own reading
    // stays) when the socket is not UDP over IPv4 or IPv6.
    static bool attach(netsnmp_transport_s *transport);
    // Before the transport is closed.
    static void detach(netsnmp_transport_s *transport);
    // Admitted datagrams, or datagrams not yet looked at, are waiting in the reader's batch.
    static bool hasWaiting(const netsnmp_transport_s *transport);
    // Datagrams dropped unparsed so far (all listeners).
    static unsigned long long shedCount();
};

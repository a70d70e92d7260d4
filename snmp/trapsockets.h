#pragma once

struct netsnmp_transport_s;

// Where the trap port's sockets come from. The packaged service holds no capability: systemd binds UDP 162
// (vigilex.socket) and passes the sockets at start (sd_listen_fds(3)); the library's UDP server transports
// take a passed socket of their own family and port when they open. Started by hand, nothing is passed and
// the transports bind the port themselves. Another platform puts its own file in place of trapsockets.cpp.
// GUI thread, library lock held, before the engine thread runs.
class TrapSockets
{
public:
    // The server transport for spec ("udp:162"); *passed tells whether it took a socket that systemd passed.
    // nullptr when it could be neither taken nor bound.
    static netsnmp_transport_s *open(const char *spec, bool *passed);
    // After the last open: no program started from here (the shutdown application, the crash box) inherits
    // a passed socket, nor the variables that describe them, taken or not. The sockets themselves stay open.
    static void seal();
    // How many sockets this process was passed (0 when started by hand, and after seal()).
    static int passedCount();
};

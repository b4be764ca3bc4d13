// Socket set-up shared by the two receiving channels: open and bind the UDP socket a channel
// reads from, with a large receive buffer, and join or leave its multicast group, tracing
// each failure in the channels' own words. The address and port come from configuration that
// arrives over the network or from a client, so no failure here ends the process: the caller
// gets null or false and decides how to retry. Loop thread only.
#pragma once

#include <memory>
#include <string>

#include "base/TTracker.h"
#include "os/TUdpSocket.h"

// The receive buffer asked for. The kernel default holds fewer than a hundred 1400-byte
// datagrams, and a head-end sends its carousel in bursts: a smaller buffer loses datagrams
// whenever the loop is busy elsewhere for a moment.
constexpr int kInfocastReceiveBufferBytes = 1024 * 1024;

// Opens a socket bound to address (the group itself, not the wildcard address, so that only
// this group's datagrams arrive) and port. On failure traces, as an error and with the errno,
// "<prefix>Could not open UDP socket; errno = %d", "<prefix>Can't set SO_REUSEADDR; errno =
// %d" or "<prefix>Could not bind socket; errno = %d" (an address that is not dotted IPv4 or a
// port outside 0..65535 is a bind failure with EINVAL) and returns null. A receive buffer
// smaller than kInfocastReceiveBufferBytes is traced as a warning, not a failure.
std::unique_ptr<TUdpSocket> OpenInfocastSocket(const char* prefix, const std::string& address,
                                               int port, TTracker& tracker);

// Joins or leaves the group on the default interface; a failure is traced as an error
// ("TnfocastChannel: Could not join multicast group '%s'; errno = %d", and "leave") and
// returns false.
bool JoinInfocastGroup(TUdpSocket& socket, const std::string& group, TTracker& tracker);
bool LeaveInfocastGroup(TUdpSocket& socket, const std::string& group, TTracker& tracker);

#pragma once
#include <cstddef>
#include <cstdint>

// What one client may make the server hold, in one place. Every value leaves room
// for the other clients: together they keep the server's memory bounded and its
// tables open to a newcomer whatever a hostile client does. ServerConfig and
// TransportLimits take their defaults from here.
namespace Ua::Budget {

// A plant's clients on one host (SCADA, historian, engineering tools) fit; a flood
// from one address does not fill the table of 150.
constexpr int ChannelsPerAddress = 20;
constexpr int SessionsPerAddress = 20;
// GetEndpoints, FindServers or CreateSession follow a new channel within moments.
constexpr int ChannelWithoutSessionTimeoutMs = 10000;
// Activation follows CreateSession within moments.
constexpr double UnactivatedSessionTimeoutMs = 10000;
// A chunk, and a request of several chunks, arrives within this at any real speed.
constexpr int PartialMessageTimeoutMs = 10000;
// One connection's partial request and unsent responses together: a request of the
// largest size (4 MiB) and a few answers to it.
constexpr std::int64_t ConnectionBytes = 8 << 20;
// Past this many unsent bytes the client is not read from until it catches up.
constexpr std::int64_t UnsentBytesBeforePause = 1 << 20;
// Requests read ahead of their answers: Qt stops reading the socket beyond this.
constexpr std::int64_t ReadAheadBytes = 256 << 10;
// Queue entries beyond the first of each monitored item, per session: 100 values
// for 500 items or 6 for each item of a full installation (about 120 bytes each).
constexpr std::size_t QueuedValuesPerSession = 50000;
// Notifications kept for Republish, per session: the last few messages.
constexpr std::size_t RetainedNotificationsPerSession = 20000;
// Subscriptions whose session ended wait for a transfer until their lifetime ends
// (up to an hour), held by nobody: all of them together, counted as monitored items
// plus their queue entries and the notifications kept for Republish, may hold what
// a few clients of a full installation (7,648 items each) leave while they come
// back, about 20 MiB. Past either bound the oldest goes first.
constexpr int OrphanedSubscriptions = 100;
constexpr std::size_t OrphanedValues = 50000;

} // namespace Ua::Budget

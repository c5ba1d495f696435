// `vyn-devhost replay SESSION.har`: sends the plugin calls of a saved
// session (session_har.h) again to a host of its own, in order, and shows
// what a build answers differently.
//
// While call N runs, the simulated peers answer each outgoing request with
// what the recording holds for it in call N (the first one not yet used
// with the same method and path, its answer and the events that followed
// it), so the replay does not depend on the roster or on fresh uuids; a
// request the recording does not hold is answered as the peers would, from
// the roster recorded with the call, and counts as a difference. Per call,
// the status, the content type, the body (JSON compared as JSON: key order
// and spacing aside) and the outgoing requests (method, path, payload) are
// compared; each call that differs is printed as a unified diff of the two
// texts, then "N calls, N same, N differ".
//
// Entries that call no function of the plugin (a HAR saved elsewhere may
// hold other requests) are left out and counted on the error stream.
//
// Exit codes: 0 every call the same; 1 some call differs; 2 bad input (a
// file that is not HAR, a HAR with no call of this plugin, a plugin that
// cannot be loaded), with a message on `err`.
//
//   std::ostringstream out, err;
//   int code = RunReplay(options, PluginSource{}, out, err);
#ifndef VYN_DEVHOST_PROGRAM_SESSION_REPLAY_H_
#define VYN_DEVHOST_PROGRAM_SESSION_REPLAY_H_

#include <ostream>

#include "devhost/program/command_line.h"
#include "devhost/program/dev_host_commands.h"

namespace Kestrel::DevHost {

// Replays `options.session_path` against the plugin of `source` (see
// above). Never throws; not for use by two threads on one stream.
int RunReplay(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
              std::ostream& err);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PROGRAM_SESSION_REPLAY_H_

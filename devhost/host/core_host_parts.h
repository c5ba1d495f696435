// What the source files of `CoreHost` share (core_host.cpp: the plugin's life
// and calls; core_host_peers.cpp: the other plugins and the function table;
// core_host_records.cpp: the records). Private to those files.
#ifndef VYN_DEVHOST_HOST_CORE_HOST_PARTS_H_
#define VYN_DEVHOST_HOST_CORE_HOST_PARTS_H_

#include <cstdint>
#include <string>

#include "devhost/host/core_host.h"

namespace Kestrel::DevHost {

// `text`, or "" for nullptr.
std::string TextOrEmpty(const char* text);

// The wall-clock time in milliseconds since 1970.
int64_t NowMs();

// About how many bytes a record holds, for the windows' byte bounds.
size_t RecordBytes(const RecordedRequest& request);
size_t RecordBytes(const RecordedEvent& event);
size_t RecordBytes(const std::string& text);
size_t RecordBytes(const LogLine& line);
size_t RecordBytes(const CallRecord& call);
size_t RecordBytes(const Subscription& subscription);
size_t RecordBytes(const Unsubscription& unsubscription);

template <typename Record>
void CoreHost::Keep(RecordWindow<Record>& window, Record record) {
  size_t bytes = RecordBytes(record);
  window.Add(std::move(record), bytes, options_.record_limit, options_.record_bytes_limit);
}

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_CORE_HOST_PARTS_H_

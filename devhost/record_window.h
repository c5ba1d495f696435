// `RecordWindow`: the newest records of one kind that a host keeps, bounded
// by their number and by an estimate of their bytes (0: no bound), so that a
// long-running server keeps a window of recent activity and nothing that
// grows with the number of calls. The owner locks; not thread-safe itself.
//
//   RecordWindow<std::string> lines;
//   lines.Add("text", 4, /*count_limit=*/1000, /*byte_limit=*/4 << 20);
#ifndef VYN_DEVHOST_RECORD_WINDOW_H_
#define VYN_DEVHOST_RECORD_WINDOW_H_

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace Kestrel::DevHost {

template <typename Record>
class RecordWindow {
 public:
  // Appends `record` of about `bytes` and drops the oldest records while more
  // than `count_limit` or more than `byte_limit` bytes are kept (the newest
  // record always stays).
  void Add(Record record, size_t bytes, size_t count_limit, size_t byte_limit) {
    records_.emplace_back(std::move(record), bytes);
    bytes_ += bytes;
    while (records_.size() > 1 && ((count_limit != 0 && records_.size() > count_limit) ||
                                   (byte_limit != 0 && bytes_ > byte_limit))) {
      bytes_ -= records_.front().second;
      records_.pop_front();
    }
  }

  std::vector<Record> Copy() const {
    std::vector<Record> copy;
    copy.reserve(records_.size());
    for (const auto& [record, bytes] : records_) copy.push_back(record);
    return copy;
  }

  size_t size() const { return records_.size(); }

  void Clear() {
    records_.clear();
    bytes_ = 0;
  }

 private:
  std::deque<std::pair<Record, size_t>> records_;
  size_t bytes_ = 0;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_RECORD_WINDOW_H_

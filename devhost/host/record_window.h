// `RecordWindow`: the newest records of one kind that a host keeps, bounded
// by their number and by an estimate of their bytes (0: no bound), so that a
// long-running server keeps a window of recent activity and nothing that
// grows with the number of calls. Records are numbered from 0 in the order
// added, so a reader can ask for what came after the last one it saw. The
// owner locks; not thread-safe itself.
//
//   RecordWindow<std::string> lines;
//   lines.Add("text", 4, /*count_limit=*/1000, /*byte_limit=*/4 << 20);
#ifndef VYN_DEVHOST_HOST_RECORD_WINDOW_H_
#define VYN_DEVHOST_HOST_RECORD_WINDOW_H_

#include <cstddef>
#include <cstdint>
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
      ++dropped_;
    }
  }

  // The number of the oldest record kept, and the number the next record gets.
  uint64_t first_number() const { return dropped_; }
  uint64_t end_number() const { return dropped_ + records_.size(); }

  // The record numbered `number`; `first_number() <= number < end_number()`.
  const Record& at_number(uint64_t number) const { return records_[number - dropped_].first; }

  // The newest record for which `matches` holds, or nullptr.
  template <typename Predicate>
  const Record* FindNewest(Predicate matches) const {
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
      if (matches(it->first)) return &it->first;
    }
    return nullptr;
  }

  std::vector<Record> Copy() const {
    std::vector<Record> copy;
    copy.reserve(records_.size());
    for (const auto& [record, bytes] : records_) copy.push_back(record);
    return copy;
  }

  size_t size() const { return records_.size(); }

  // Forgets every record; numbering goes on.
  void Clear() {
    dropped_ += records_.size();
    records_.clear();
    bytes_ = 0;
  }

 private:
  std::deque<std::pair<Record, size_t>> records_;
  size_t bytes_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_RECORD_WINDOW_H_

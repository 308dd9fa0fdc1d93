// Growable tables of 64-bit reals and 32-bit integers with checked element access.
// A copy shares the storage with its source until one of them is changed (copy on write), so the
// run's results, the document's and the view's instances cost their samples once in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace zuba {

template <class T>
class Table {
 public:
  Table() = default;
  explicit Table(std::vector<T> values) { assign(std::move(values)); }

  int64_t size() const { return storage_ ? static_cast<int64_t>(storage_->size()) : 0; }
  bool empty() const { return size() == 0; }

  // Sets the length; new elements are zero, length 0 releases the storage.
  // A negative length is an invalid-argument failure.
  void resize(int64_t length) {
    if (length < 0) throw std::invalid_argument("table length " + std::to_string(length));
    if (length == 0) {
      storage_.reset();
      return;
    }
    detach();
    storage_->resize(static_cast<size_t>(length), T{});
  }

  // Element i; an index outside 0 .. size()-1 is an invalid-argument failure.
  T at(int64_t i) const {
    check(i);
    return (*storage_)[static_cast<size_t>(i)];
  }
  T operator[](int64_t i) const { return at(i); }

  void set(int64_t i, T value) {
    check(i);
    detach();
    (*storage_)[static_cast<size_t>(i)] = value;
  }

  void push_back(T value) {
    detach();
    storage_->push_back(value);
  }

  // Replaces the contents, taking the vector's storage.
  void assign(std::vector<T> values) {
    if (values.empty()) {
      storage_.reset();
    } else {
      storage_ = std::make_shared<std::vector<T>>(std::move(values));
    }
  }

  // Read-only view of all elements (valid until the table is changed).
  std::span<const T> values() const {
    return storage_ ? std::span<const T>(*storage_) : std::span<const T>();
  }
  // Writable view; detaches the storage from any copies first.
  std::span<T> mutableValues() {
    if (!storage_) return {};
    detach();
    return std::span<T>(*storage_);
  }
  std::vector<T> toVector() const { return storage_ ? *storage_ : std::vector<T>(); }

  // True when both tables use the same storage (for checking that copies share memory).
  bool sharesStorageWith(const Table& other) const {
    return storage_ != nullptr && storage_ == other.storage_;
  }

  friend bool operator==(const Table& a, const Table& b) {
    auto x = a.values(), y = b.values();
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
  }

 private:
  void check(int64_t i) const {
    if (i < 0 || i >= size())
      throw std::invalid_argument("table index " + std::to_string(i) + " outside 0.." +
                                  std::to_string(size() - 1));
  }
  void detach() {
    if (!storage_) {
      storage_ = std::make_shared<std::vector<T>>();
    } else if (storage_.use_count() > 1) {
      storage_ = std::make_shared<std::vector<T>>(*storage_);
    }
  }

  std::shared_ptr<std::vector<T>> storage_;
};

using RealTable = Table<double>;
using IntTable = Table<int32_t>;

}  // namespace zuba

// Handles given to callers are keys of a table, never addresses: a stale or
// forged handle simply finds nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace tessaline::crypt {

template <typename T>
class HandleTable {
 public:
  // TAG tells the tables apart, so that a handle of one kind passed where
  // another is expected finds nothing either.
  explicit HandleTable(uintptr_t tag) : tag_(tag) {}

  uintptr_t Add(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t handle = Compose(++counter_);
    objects_.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<T> Find(uintptr_t handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second;
  }

  // The object removed, or null when HANDLE was not in the table.
  std::shared_ptr<T> Remove(uintptr_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<T> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  uintptr_t Compose(uintptr_t counter) const {
    if constexpr (sizeof(uintptr_t) >= 8) {
      return (tag_ << 48) | (counter & 0xFFFFFFFFFFFFull);
    } else {
      return (tag_ << 28) | (counter & 0x0FFFFFFF);
    }
  }

  const uintptr_t tag_;
  mutable std::mutex mutex_;
  uintptr_t counter_ = 0;
  std::unordered_map<uintptr_t, std::shared_ptr<T>> objects_;
};

}  // namespace tessaline::crypt

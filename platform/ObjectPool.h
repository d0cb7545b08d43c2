#pragma once

// Objects a worker takes for one task and gives back for the next, so that their buffers and
// states are made once per worker instead of once per task. A thread-local object would do the
// same, but mingw-w64's static run-time frees a thread's storage before that thread's
// thread-local destructors run, so every worker's exit wrote to freed memory on Windows.

#include <memory>
#include <mutex>
#include <vector>

namespace vornel {

template <typename T> class ObjectPool {
public:
  // An object on loan; it returns to the pool when the lease ends.
  class Lease {
  public:
    Lease(ObjectPool& pool, std::unique_ptr<T> object) : pool_(pool), object_(std::move(object)) {}
    ~Lease() { pool_.Give(std::move(object_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    T& operator*() const { return *object_; }
    T* operator->() const { return object_.get(); }

  private:
    ObjectPool& pool_;
    std::unique_ptr<T> object_;
  };

  Lease Take() {
    std::unique_ptr<T> object;
    {
      const std::lock_guard lock(mutex_);
      if (!free_.empty()) {
        object = std::move(free_.back());
        free_.pop_back();
      }
    }
    if (!object)
      object = std::make_unique<T>();
    return Lease(*this, std::move(object));
  }

private:
  void Give(std::unique_ptr<T> object) noexcept {
    try {
      const std::lock_guard lock(mutex_);
      free_.push_back(std::move(object));
    } catch (...) {
      // Not kept: the next lease makes a new one.
    }
  }

  std::mutex mutex_;
  std::vector<std::unique_ptr<T>> free_;
};

} // namespace vornel

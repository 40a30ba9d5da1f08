// IOwner: the sole owner of one object made with new, for the runtime's
// classic headers, which stay free of <memory> (in C++20 it brings in the
// standard streams and <unistd.h>, whose names classic programs reuse).
#pragma once

template <class T> class IOwner {
public:
  constexpr IOwner(decltype(nullptr) = nullptr) {}
  // Deletes the object; T must be complete where the destructor is used.
  ~IOwner() { delete fObject; }
  IOwner(const IOwner&) = delete;
  IOwner& operator=(const IOwner&) = delete;

  // Takes `object`, deleting the one held before.
  void reset(T* object = nullptr) {
    T* old = fObject;
    fObject = object;
    delete old;
  }
  T* get() const { return fObject; }
  T* operator->() const { return fObject; }
  T& operator*() const { return *fObject; }
  explicit operator bool() const { return fObject != nullptr; }

private:
  T* fObject = nullptr;
};
